#pragma once
// The card's JPEG 2000 images (JP2 files) to PNG files in memory, for the page.
#include <cstddef>
#include <cstdint>

#include "base/Bytes.h"

struct opj_image;

namespace photo {

// What convertToPng decodes at most, as its header declares it; beyond that the
// image is refused before decoding (a warning record, status 1).
constexpr uint64_t kMaxPixels = 4000000;
constexpr uint32_t kMaxComponents = 4;
constexpr uint32_t kMaxPrecision = 16;

// Decodes a JP2 file and writes it as PNG into `out` (cleared first).
// 0 on success, 1 on failure; on failure `out` holds nothing, or what libpng had
// written before it failed.
int convertToPng(const uint8_t* bytes, size_t count, Bytes& out);
// One to four components of equal sampling, precision and sign, at most 16 bits,
// as a PNG (grey, grey+alpha, RGB, RGBA) with an sBIT chunk. Clips and rescales
// the image's samples in place.
int writePng(opj_image* image, Bytes& out);

}  // namespace photo
