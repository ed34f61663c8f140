#include "mscapiprovider/Random.h"

#include <openssl/rand.h>

#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/OpenSslError.h"

namespace mscapiprovider {

Bytes Random::nextBytes(size_t n) {
    MSCAPIProvider::getInstance();
    Bytes out(n);
    if (n > 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1)
        CRYPTO_FAIL("mscapiprovider::Random::nextBytes", "RAND_bytes", "No se ha obtenido el valor aleatorio");
    return out;
}

}  // namespace mscapiprovider
