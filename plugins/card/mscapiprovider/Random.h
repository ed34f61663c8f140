#pragma once
#include <cstddef>

#include "base/Bytes.h"

namespace mscapiprovider {

class Random {
public:
    // n bytes from the system's cryptographic generator.
    static Bytes nextBytes(size_t n);
};

}  // namespace mscapiprovider
