#include "zelvo/socket_options.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace zelvo {

bool prepareListeningSocket(std::uintptr_t socket) {
    const int on = 1;
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

void keepFromChildren(std::uintptr_t socket) {
    const int fd = static_cast<int>(socket);
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace zelvo
