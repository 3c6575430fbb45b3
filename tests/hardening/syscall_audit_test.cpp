// Traces a real removal with strace: below a cache path, everything is opened and unlinked as a
// folder descriptor plus a single name, never by a path a swapped-in link could redirect.

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tree.h"

namespace sweepkin::hardening {
namespace {

struct Call {
    std::string name;       // "openat", "unlink", ...
    std::string dirFdPath;  // the folder a descriptor argument stood for; "" without one
    bool atCwd = false;     // the descriptor argument was AT_FDCWD
    std::string path;       // the path or name argument, unescaped
    std::string line;       // the line as traced
};

// Decodes the "\xHH" run starting at `pos` (strace -xx prints every byte of a path that way)
// and steps over the character that ends it.
std::string unhex(const std::string& line, std::size_t& pos) {
    std::string out;
    for (; line.compare(pos, 2, "\\x") == 0 && pos + 4 <= line.size(); pos += 4) {
        out += static_cast<char>(std::stoi(line.substr(pos + 2, 2), nullptr, 16));
    }
    ++pos;
    return out;
}

// "openat(3</a/b>, \"name\", ..." -> {openat, /a/b, name}. Lines of other shapes give nothing.
bool parseCall(const std::string& line, Call& call) {
    const std::size_t paren = line.find('(');
    if (paren == std::string::npos || paren == 0) return false;
    call = Call{line.substr(0, paren)};
    call.line = line;
    std::size_t pos = paren + 1;
    if (line.compare(pos, 1, "\"") != 0) {
        const std::size_t open = line.find('<', pos), comma = line.find(", ", pos);
        if (comma == std::string::npos) return false;
        call.atCwd = line.compare(pos, 8, "AT_FDCWD") == 0;
        if (open < comma) call.dirFdPath = unhex(line, pos = open + 1);
        pos = comma + 2;
        if (line.compare(pos, 1, "\"") != 0) return false;
    }
    call.path = unhex(line, ++pos);
    return true;
}

bool below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.starts_with(folder + "/");
}

std::string locationOf(const Call& call) {
    if (call.path.starts_with("/")) return call.path;
    return call.dirFdPath + "/" + call.path;
}

TEST(SyscallAudit, RemovalBelowACachePathUsesDescriptorsAndSingleNames) {
    ScratchDir scratch;
    char resolved[PATH_MAX];
    ASSERT_NE(::realpath(scratch.path().c_str(), resolved), nullptr);
    const std::string root = resolved;
    const std::string home = root + "/home";
    const std::string app = home + "/Library/Caches/com.example.app";
    const std::string gpu = home + "/Library/Application Support/Code/GPUCache";
    for (const std::string& top : {app, gpu}) {
        makeDirs(top + "/a/b/c");
        makeDirs(top + "/with space/x");
        writeFile(top + "/top.bin", 10);
        writeFile(top + "/a/one.bin", 20);
        writeFile(top + "/a/b/c/three.bin", 30);
        writeFile(top + "/with space/x/file", 40);
        ASSERT_EQ(::symlink(root.c_str(), (top + "/a/to-root").c_str()), 0);
    }
    makeDirs(root + "/trace");
    const std::string prefix = root + "/trace/t";

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        // LeakSanitizer cannot run under ptrace; everything else of a sanitizer build still can.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
        const std::string out = root + "/trace/stdout";
        if (!std::freopen(out.c_str(), "w", stdout)) ::_exit(126);
        ::execlp("strace", "strace", "-f", "-ff", "-y", "-xx", "-qq", "-s", "4096", "-o",
                 prefix.c_str(), "-e",
                 "trace=openat,open,unlinkat,unlink,rmdir,mkdir,mkdirat,rename,renameat,renameat2,"
                 "newfstatat",
                 SWEEPKIN_DELETION_DRIVER, app.c_str(), gpu.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 127) GTEST_SKIP() << "strace is not installed or could not start";
    const std::string driverOutput = readText(root + "/trace/stdout");
    // A container without ptrace lets strace start but not trace: the driver never ran.
    if (WEXITSTATUS(status) != 0 && driverOutput.empty() && exists(app)) {
        GTEST_SKIP() << "strace cannot trace here (ptrace refused?)";
    }
    ASSERT_EQ(WEXITSTATUS(status), 0) << "strace or the driver failed";
    EXPECT_EQ(driverOutput, "200 0\n");
    EXPECT_FALSE(exists(app));
    EXPECT_FALSE(exists(gpu));

    std::vector<std::string> violations;
    int unlinksBelow = 0, opensBelow = 0, pathStatsBelow = 0;
    DIR* dir = ::opendir((root + "/trace").c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.starts_with("t.")) continue;
        for (const std::string& line : splitLines(readText(root + "/trace/" + name))) {
            Call call;
            if (!parseCall(line, call)) continue;
            const std::string where = locationOf(call);
            const bool inside = below(where, app) || below(where, gpu);
            if (!inside) continue;
            const bool byDescriptor = !call.atCwd && !call.dirFdPath.empty() &&
                                      !call.path.starts_with("/") &&
                                      call.path.find('/') == std::string::npos;
            if (call.name == "newfstatat") {
                // Measuring by path is reported, not refused: it only reads.
                if (!byDescriptor && !call.path.empty()) ++pathStatsBelow;
                continue;
            }
            if (call.name == "unlinkat") ++unlinksBelow;
            if (call.name == "openat") ++opensBelow;
            if (!byDescriptor) violations.push_back(line);
        }
    }
    ::closedir(dir);

    RecordProperty("unlinkat_below_cache", unlinksBelow);
    RecordProperty("openat_below_cache", opensBelow);
    RecordProperty("path_stats_below_cache", pathStatsBelow);
    EXPECT_GE(unlinksBelow, 14) << "the trace did not see the removal";
    EXPECT_GE(opensBelow, 8) << "the trace did not see the folders being opened";
    std::string listing;
    for (const std::string& line : violations) listing += "  " + line + "\n";
    EXPECT_TRUE(violations.empty()) << "calls below a cache path by path:\n" << listing;
}

}  // namespace
}  // namespace sweepkin::hardening
