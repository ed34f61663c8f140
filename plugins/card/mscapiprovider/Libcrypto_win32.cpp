#include "mscapiprovider/Libcrypto.h"

#include <openssl/crypto.h>

#include <cstdlib>

namespace mscapiprovider {

namespace {
void stopLibcrypto() { OPENSSL_cleanup(); }
}  // namespace

// The library carries a static copy of libcrypto, which would register its
// clean-up with the process's C runtime: that runs it when the process ends,
// after the launcher has unloaded this library, and the call lands in code
// that is gone. It is set up without that handler and cleaned up from this
// library's own exit list instead, which runs when the library is unloaded.
bool startLibcrypto() {
    static const bool started = [] {
        if (OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) != 1) return false;
        return std::atexit(stopLibcrypto) == 0;
    }();
    return started;
}

}  // namespace mscapiprovider
