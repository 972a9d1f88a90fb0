#include "link/LinkPlatform.h"

#include <mutex>

namespace qv {
namespace {

std::mutex gLock;
LinkPlatform gPlatform;

}  // namespace

void InstallLinkPlatform(const LinkPlatform& p) {
    std::lock_guard lock(gLock);
    gPlatform = p;
}

LinkPlatform InstalledLinkPlatform() {
    std::lock_guard lock(gLock);
    return gPlatform;
}

}  // namespace qv
