#include "platform/SystemVersion.h"

#include <sys/socket.h>
#include <unistd.h>

namespace qv {

bool StartNetwork() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace qv
