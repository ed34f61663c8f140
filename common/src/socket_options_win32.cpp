#include "zelvo/socket_options.h"

#include <winsock2.h>
#include <windows.h>

namespace zelvo {

bool prepareListeningSocket(std::uintptr_t socket) {
    const BOOL on = TRUE;
    return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

void keepFromChildren(std::uintptr_t socket) {
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace zelvo
