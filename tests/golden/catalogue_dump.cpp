// Prints every catalogue entry in a stable text form: what tests/golden/catalogue.txt holds, so
// that a change to the catalogue shows as one reviewed diff. Paths are the texts the resolver
// derives, with the folders a user can move written as <cache>, <config>, <data> and $VARIABLE.

#include <cstdio>
#include <string>

#include "engine/catalogue/catalogue.h"
#include "engine/fs/resolver.h"

namespace {

using namespace sweepkin;

const char* kindName(RootKind kind) {
    switch (kind) {
        case RootKind::Home: return "home";
        case RootKind::CacheHome: return "cache-home";
        case RootKind::ConfigHome: return "config-home";
        case RootKind::DataHome: return "data-home";
        case RootKind::FlatpakCache: return "flatpak-cache";
        case RootKind::FlatpakConfig: return "flatpak-config";
        case RootKind::FlatpakData: return "flatpak-data";
        case RootKind::FlatpakHome: return "flatpak-home";
        case RootKind::SnapCommon: return "snap-common";
        case RootKind::SnapCurrent: return "snap-current";
        case RootKind::LibraryCaches: return "library-caches";
        case RootKind::LibraryAppSupport: return "library-app-support";
        case RootKind::LibraryContainers: return "library-containers";
        case RootKind::ToolFolder: return "tool-folder";
    }
    return "?";
}

// A tool's folder as "/$NAME" (the resolver splits a folder into its parent and its name), which
// prints as "$NAME".
std::string shown(std::string path) {
    return path.starts_with("/$") ? path.substr(1) : path;
}

void line(const std::string& text) { std::printf("%s\n", text.c_str()); }

}  // namespace

int main() {
    const std::vector<AppTarget> targets = buildCacheTargets();
    Places places{"~", "<cache>", "<config>", "<data>", {}};
    for (const AppTarget& target : targets) {
        for (const ToolVariable& tool : target.tools) places.tools[tool.name] = "/$" + tool.name;
    }
    const Resolver resolver(places);
    line("# Every catalogue entry, in order. Regenerate after a reviewed catalogue change:");
    line("#   SWEEPKIN_UPDATE_GOLDEN=1 ctest --test-dir build -R golden.catalogue");
    for (const AppTarget& target : targets) {
        line("");
        line("entry " + target.id);
        line("  name " + target.name);
        line("  identifier " + target.bundleID.value_or("-"));
        for (const std::string& name : target.process.names) line("  process name " + name);
        for (const std::string& path : target.process.paths) line("  process path " + path);
        for (const std::string& id : target.process.flatpakIDs) line("  process flatpak " + id);
        std::string icons;
        for (const std::string& icon : target.icons) icons += " " + icon;
        line("  icons" + icons);
        if (target.startsUnticked) line("  starts unticked");
        for (const ToolVariable& tool : target.tools) {
            std::string text = "  tool " + tool.name;
            for (const std::string& alias : tool.aliases) text += " or " + alias;
            if (!tool.defaultFolder.empty()) {
                const Location folder{tool.defaultRoot, {}, tool.defaultFolder, {""}};
                text += ", default " + resolver.patterns(folder).front();
            }
            line(text);
        }
        for (const Location& location : target.locations) {
            Location own = location;
            own.items = {""};
            line(std::string("  location ") + kindName(location.root) + " " +
                 shown(resolver.patterns(own).front()));
            for (const std::string& item : location.items) {
                line("    item " + (item.empty() ? std::string(".") : item));
            }
        }
    }
    return 0;
}
