// Any answer a card may give to a protected command: unwrap refuses or opens it,
// never reads past it. One byte of the input chooses how far the counter has run,
// so the MAC check is reached with valid structure as well.
#include <cstddef>
#include <cstdint>

#include "base/AppException.h"
#include "mrtdutils/DESedeSecureMessagingWrapper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Bytes kSEnc = {0x97, 0x9E, 0xC1, 0x3B, 0x1C, 0xBF, 0xE9, 0xDC, 0xD0, 0x1A, 0xB0, 0xFE,
                                0xD3, 0x07, 0xEA, 0xE5, 0x97, 0x9E, 0xC1, 0x3B, 0x1C, 0xBF, 0xE9, 0xDC};
    static const Bytes kSMac = {0xF1, 0xCB, 0x1F, 0x1F, 0xB5, 0xAD, 0xF2, 0x08, 0x80, 0x6B, 0x89, 0xDC,
                                0x57, 0x9D, 0xC1, 0xF8, 0xF1, 0xCB, 0x1F, 0x1F, 0xB5, 0xAD, 0xF2, 0x08};
    uint64_t ssc = size > 0 ? data[0] : 0;
    auto sm = mrtdutils::DESedeSecureMessagingWrapper::getInstance(kSEnc, kSMac, ssc);
    // A heap copy of exactly the answer, so a read past it is caught.
    Bytes answer(data + (size > 0 ? 1 : 0), data + size);
    try {
        sm->unwrap(answer.data(), answer.size());
    } catch (const AppException&) {
    }
    return 0;
}
