#include "tools/qvctl/Helper.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/qvctl/ExitStatus.h"

namespace qvctl {
namespace {

// The folder of this program's own file (symbolic links resolved by the kernel), or empty.
std::filesystem::path OwnFolder() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return {};
    }
    return std::filesystem::path(std::string(self, static_cast<std::size_t>(n))).parent_path();
}

}  // namespace

const char* HelperFor(std::string_view command) {
    if (command == "serve") {
        return "qvctl-share";
    }
    if (command == "export" || command == "record") {
        return "qvctl-media";
    }
    return nullptr;
}

int ExecHelper(const char* helper, char** argv) {
    const std::filesystem::path own = OwnFolder();
    if (own.empty()) {
        std::fprintf(stderr, "qvctl: cannot tell where qvctl is (/proc/self/exe): %s\n",
                     std::system_category().message(errno).c_str());
        return kExitFailed;
    }
    const std::filesystem::path places[] = {own, (own / QVCTL_PRIVATE_DIR).lexically_normal()};
    for (const auto& place : places) {
        const std::string path = place / helper;
        ::execv(path.c_str(), argv);
        if (errno != ENOENT && errno != ENOTDIR) {
            std::fprintf(stderr, "qvctl: cannot run %s: %s\n", path.c_str(),
                         std::system_category().message(errno).c_str());
            return kExitFailed;
        }
    }
    std::fprintf(stderr,
                 "qvctl: %s needs the program %s, which is neither in %s nor in %s "
                 "(reinstall qvremote)\n",
                 argv[1], helper, places[0].c_str(), places[1].c_str());
    return kExitFailed;
}

}  // namespace qvctl
