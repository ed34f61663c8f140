#pragma once
// What the server's sockets need that the systems spell differently. The socket
// is the system's own number (Boost.Asio's native_handle()).
#include <cstdint>

namespace zelvo {

// Before bind: the port can be taken again at once after a run (Linux:
// SO_REUSEADDR, which never shares a port another socket listens on), and no
// other program can bind it while we listen (Windows: SO_EXCLUSIVEADDRUSE; its
// SO_REUSEADDR would let anyone take the port over). False when it cannot be set.
bool prepareListeningSocket(std::uintptr_t socket);
// No program started later inherits the socket.
void keepFromChildren(std::uintptr_t socket);

}  // namespace zelvo
