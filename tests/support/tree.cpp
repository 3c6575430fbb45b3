#include "tests/support/tree.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sweepkin::fixtures {

namespace {

RunResult runShell(const std::string& command, bool readerGoesAway = false) {
    RunResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; !readerGoesAway && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        result.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace

ScratchDir::ScratchDir(Reach reach) {
    const char* tmp = std::getenv("TMPDIR");
    const bool useTmpdir = tmp != nullptr && *tmp && (reach == Reach::owner || ::geteuid() != 0);
    std::string name = std::string(useTmpdir ? tmp : "/tmp") + "/sweepkin-test-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) return;
    // Its real path: no link on the way is followed below the folders a home's links start from.
    char* real = ::realpath(name.c_str(), nullptr);
    path_ = real != nullptr ? real : name;
    std::free(real);
}

void makeDirs(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
}

std::int64_t writeFile(const std::string& path, std::int64_t bytes) {
    makeDirs(std::filesystem::path(path).parent_path());
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    // Allocated, not sparse: a file counts only what the disk holds of it.
    return file.valid() && (bytes == 0 || ::posix_fallocate(file.get(), 0, bytes) == 0) ? bytes
                                                                                        : -1;
}

void writeText(const std::string& path, const std::string& text) {
    makeDirs(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::int64_t makeTree(const std::string& root, const std::vector<std::string>& entries) {
    std::int64_t bytes = 0;
    for (const std::string& entry : entries) {
        const std::size_t arrow = entry.find("->"), equals = entry.rfind('=');
        const std::string path = root + "/" + entry.substr(0, std::min(arrow, equals));
        if (arrow != std::string::npos) {
            makeDirs(std::filesystem::path(path).parent_path());
            bytes = ::symlink(entry.substr(arrow + 2).c_str(), path.c_str()) == 0 ? bytes : -1;
        } else if (entry.ends_with('/')) {
            makeDirs(path);
        } else {
            bytes += writeFile(path, std::stoll(entry.substr(equals + 1)));
        }
    }
    return bytes;
}

// The paths here come from mkdtemp and the tests' own names, none with a quote. GNU find, chmod
// and rm walk by descriptor, so depth and length do not matter.
void removeTree(const std::string& path) {
    runShell("chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "' 2>/dev/null");
}

Fingerprint fingerprint(const std::string& root, bool folderTimes) {
    Fingerprint out;
    const std::string folders = folderTimes ? "" : "-type d -printf '%P\\t%y %m\\n' -o ";
    const std::string listing =
        "cd '" + root + "' && find . " + folders +
        "-printf '%P\\t%y %m %s %T@ %l\\n' && find . -type f -exec cksum {} +";
    std::istringstream lines(runShell(listing).out);
    for (std::string line; std::getline(lines, line);) {
        if (const std::size_t tab = line.find('\t'); tab != std::string::npos) {
            out[line.substr(0, tab)] += line.substr(tab + 1);
        } else if (const std::size_t path = line.find(" ./"); path != std::string::npos) {
            out[line.substr(path + 3)] += " cksum " + line.substr(0, path);
        }
    }
    return out;
}

bool dropPrivileges(uid_t user, gid_t group) {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(group, group, group) == 0 &&
           ::setresuid(user, user, user) == 0 && ::geteuid() == user;
}

bool chownToAnother(const std::string& path) {
    return ::lchown(path.c_str(), kOtherUid, kOtherGid) == 0;
}

void giveTreeToAnother(const std::string& root, uid_t user, gid_t group) {
    if (::geteuid() == 0) {
        runShell("chown -hR " + std::to_string(user) + ":" + std::to_string(group) + " '" + root +
                 "'");
    }
}

std::string runInChild(const std::function<std::string()>& body, unsigned timeoutSeconds) {
    ScratchDir tmp(Reach::anyUser);
    ::chmod(tmp.path().c_str(), 0777);  // a child that becomes another user still reports back
    std::fflush(nullptr);
    if (const pid_t pid = ::fork(); pid == 0) {
        ::alarm(timeoutSeconds);
        writeText(tmp / "out", body());
        ::_exit(0);
    } else {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? readText(tmp / "out")
                                 : "signal " + std::to_string(WTERMSIG(status));
    }
}

RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     bool readerGoesAway) {
    std::string command = "ulimit -c 0; exec env -i";  // an abort leaves no core file
    for (const std::string& variable : env) command += " '" + variable + "'";
    command += " timeout -s KILL 60";
    for (const std::string& argument : argv) command += " '" + argument + "'";
    return runShell(command, readerGoesAway);
}

Places homePlaces(const std::string& home) {
    return {home, home + "/.cache", home + "/.config", home + "/.local/share"};
}

std::vector<Location> homeLocations(const std::vector<std::string>& relatives) {
    std::vector<Location> locations;
    for (const std::string& relative : relatives) {
        locations.push_back({RootKind::Home, {}, relative, {""}});
    }
    return locations;
}

}  // namespace sweepkin::fixtures
