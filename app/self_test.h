#pragma once
// The dry run behind "--selftest": what a scan would find for every catalogue entry, the safety
// guard over fixed lists it must allow and must refuse, the agreement text, and a verdict.

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform.h"
#include "engine/process_values.h"

namespace sweepkin {

// One path the guard must allow, or must refuse.
struct GuardCase {
    std::string path;  // absolute, tilde expanded
    bool mustAllow;
};

// The self-test's guard checks, in the order it prints them: the sixteen fixed ones (the same on
// every system), then with `foldersInUse` those for the folders this system uses.
std::vector<GuardCase> selfTestGuardCases(const ProcessValues& values,
                                          bool foldersInUse = kLinuxLocations);

using CachePathPredicate = std::function<bool(std::string_view path)>;

// Prints the report to `out` and returns true when every guard check passed (the sixteen fixed
// ones, and on Linux those for the folders in use). Deletes and writes nothing on disk.
bool runSelfTest(std::FILE* out, const ProcessValues& values);

// The same with the guard under test supplied by the caller.
bool runSelfTest(std::FILE* out, const ProcessValues& values, const CachePathPredicate& isSafe);

}  // namespace sweepkin
