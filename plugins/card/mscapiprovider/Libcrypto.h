#pragma once
// libcrypto's process-wide state as this library needs it: set up before the
// first crypto call, and torn down with the library where the library carries
// its own copy (Libcrypto_posix.cpp, Libcrypto_win32.cpp).
namespace mscapiprovider {

// False when libcrypto cannot be set up. Called before the crypto context is
// created, so that anything created later is released before the tear-down.
bool startLibcrypto();

}  // namespace mscapiprovider
