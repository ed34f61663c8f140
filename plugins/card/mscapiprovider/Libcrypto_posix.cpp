#include "mscapiprovider/Libcrypto.h"

namespace mscapiprovider {

// The system's shared libcrypto belongs to the whole process (the launcher's TLS
// uses it too): it sets itself up on first use and cleans up when the process ends.
bool startLibcrypto() { return true; }

}  // namespace mscapiprovider
