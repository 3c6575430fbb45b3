#pragma once
// How the running processes of one application are recognised.

#include <map>
#include <string>
#include <vector>

namespace sweepkin {

// Any one entry is enough.
struct ProcessRule {
    std::vector<std::string> names{};       // the executable's file name, wherever it lies
    std::vector<std::string> paths{};       // the executable's full path; "*" matches one component
    std::vector<std::string> flatpakIDs{};  // the app id of the Flatpak sandbox it runs in

    bool empty() const { return names.empty() && paths.empty() && flatpakIDs.empty(); }
};

// Process rules per bundle identifier.
using ProcessRules = std::map<std::string, ProcessRule>;

}  // namespace sweepkin
