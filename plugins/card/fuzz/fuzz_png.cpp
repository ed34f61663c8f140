// Any bytes as the photo a card holds: convertToPng decodes or refuses them and
// never reads past them. Inputs that do not start like a JP2 file are given its
// signature box, so the decoder gets past the header more often.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "photo/PngConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
    Bytes input;
    if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0)
        input.assign(kSignature, kSignature + sizeof kSignature);
    input.insert(input.end(), data, data + size);
    Bytes png;
    photo::convertToPng(input.data(), input.size(), png);
    return 0;
}
