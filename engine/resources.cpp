#include "engine/resources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace sweepkin {

std::string executableDirectory() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return ".";
        if (static_cast<size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), static_cast<size_t>(n));
            auto slash = exe.rfind('/');
            if (slash == std::string::npos) return ".";
            return slash == 0 ? "/" : exe.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> resourcePath(const std::string& fileName) {
    const std::string dir = executableDirectory();
    for (const std::string& candidate :
         {dir + "/" + fileName, dir + "/../share/sweepkin/" + fileName}) {
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
    }
    return std::nullopt;
}

}  // namespace sweepkin
