#include "mscapiprovider/Mac.h"

#include "base/AppException.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/SecretKey.h"

namespace mscapiprovider {

Bytes computeMac(const Bytes& key, const Bytes& data) {
    static const char* const kFunction = "mscapiprovider::computeMac";
    if (key.size() != 24) APP_THROW(kFunction, "key.size", "No se ha importado la clave");
    if (data.empty() || data.size() % 8 != 0)
        APP_THROW(kFunction, "data.size", "IllegalArgumentException: MAC input must be whole blocks");
    // Each single-DES key straight from the caller's buffer: no copy of it is left behind.
    auto k1 = SecretKey::getInstance(key.data(), 8, CALG_DES);
    auto k2 = SecretKey::getInstance(key.data() + 8, 8, CALG_DES);
    auto k3 = SecretKey::getInstance(key.data() + 16, 8, CALG_DES);
    // CBC under K1; the last block is H.
    Bytes e1 = Cipher::getInstance(*k1, Cipher::ENCRYPT)->doFinalNoPadding(data);
    Bytes h(e1.end() - 8, e1.end());
    Bytes d = Cipher::getInstance(*k2, Cipher::DECRYPT)->doFinalNoPadding(h);
    return Cipher::getInstance(*k3, Cipher::ENCRYPT)->doFinalNoPadding(d);
}

}  // namespace mscapiprovider
