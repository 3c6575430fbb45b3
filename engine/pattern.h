#pragma once
// Cache path patterns: a component containing "*" matches entries of one folder level.

#include <string>
#include <string_view>
#include <vector>

namespace sweepkin {

// Does one directory entry name match one pattern component? Only "*" is special.
bool wildcardMatch(std::string_view component, std::string_view name);

// The existing paths one pattern stands for right now; empty when nothing matches or is readable.
std::vector<std::string> expandPattern(const std::string& pattern);

// All patterns' paths, duplicates dropped (exact text), in first-seen order.
std::vector<std::string> expandPatterns(const std::vector<std::string>& patterns);

}  // namespace sweepkin
