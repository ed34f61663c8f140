// Any bytes as the photo a card holds: convertToPng decodes or refuses them and
// never reads past them, and no image over its limits is decoded (the run's memory
// limit catches one that is). Inputs that do not start like a JP2 file are given
// its signature box, so the decoder gets past the header more often.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "photo/PngConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
    Bytes input;
    if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0)
        input.assign(kSignature, kSignature + sizeof kSignature);
    input.insert(input.end(), data, data + size);
    Bytes png;
    if (photo::convertToPng(input.data(), input.size(), png) != 0) return 0;
    // IHDR's width and height follow the 8-byte signature and the chunk's length and type.
    auto word = [&](size_t at) { return uint64_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]; };
    if (word(16) * word(20) > photo::kMaxPixels) std::abort();
    return 0;
}
