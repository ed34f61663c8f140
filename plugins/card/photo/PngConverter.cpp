#include "photo/PngConverter.h"

#include <openjpeg.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "zelvo/log.h"

namespace photo {

namespace {

// The decoder reads the caller's bytes in place.
struct InputStream {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

OPJ_SIZE_T readInput(void* buffer, OPJ_SIZE_T requested, void* user) {
    auto* in = static_cast<InputStream*>(user);
    if (in->offset >= in->size) return static_cast<OPJ_SIZE_T>(-1);
    const size_t n = std::min<size_t>(requested, in->size - in->offset);
    std::memcpy(buffer, in->data + in->offset, n);
    in->offset += n;
    return n;
}

OPJ_OFF_T skipInput(OPJ_OFF_T requested, void* user) {
    auto* in = static_cast<InputStream*>(user);
    if (requested <= 0) return -1;
    const size_t n = std::min<size_t>(static_cast<uint64_t>(requested), in->size - in->offset);
    if (n == 0) return -1;
    in->offset += n;
    return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL seekInput(OPJ_OFF_T position, void* user) {
    auto* in = static_cast<InputStream*>(user);
    if (position < 0 || static_cast<uint64_t>(position) > in->size) return OPJ_FALSE;
    in->offset = static_cast<size_t>(position);
    return OPJ_TRUE;
}

// The decoder's messages would go to the host's standard error; a failure is
// reported through the status instead.
void quiet(const char*, void*) {}

struct Codec {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~Codec() {
        if (image) opj_image_destroy(image);
        if (codec) opj_destroy_codec(codec);
        if (stream) opj_stream_destroy(stream);
    }
};

int64_t scaleUp(int64_t v, int from, int to, bool sgnd) {
    if (sgnd) return v * (int64_t(1) << (to - 1)) / (int64_t(1) << (from - 1));
    return v * ((int64_t(1) << to) - 1) / ((int64_t(1) << from) - 1);
}

void scale(opj_image_t* image, int n, int from, int to) {
    for (int c = 0; c < n; ++c) {
        opj_image_comp_t& comp = image->comps[c];
        const size_t count = size_t(comp.w) * comp.h;
        for (size_t i = 0; i < count; ++i) {
            int64_t v = comp.data[i];
            v = to > from ? scaleUp(v, from, to, comp.sgnd) : (v >> (from - to));
            comp.data[i] = static_cast<OPJ_INT32>(v);
        }
        comp.prec = static_cast<OPJ_UINT32>(to);
    }
}

bool withinLimits(const opj_image_t& image) {
    const uint64_t pixels = uint64_t(image.x1 - image.x0) * (image.y1 - image.y0);
    OPJ_UINT32 precision = 0;
    for (OPJ_UINT32 c = 0; c < image.numcomps; ++c) precision = std::max(precision, image.comps[c].prec);
    if (image.x1 >= image.x0 && image.y1 >= image.y0 && pixels <= kMaxPixels && image.numcomps >= 1 &&
        image.numcomps <= kMaxComponents && precision <= kMaxPrecision)
        return true;
    LOG_WARN("photo::convertToPng") << "Imagen rechazada: " << (image.x1 - image.x0) << " x " << (image.y1 - image.y0)
                                    << " píxeles, " << image.numcomps << " componentes de hasta " << precision
                                    << " bits";
    return false;
}

// The growing PNG block.
struct Output {
    Bytes bytes;
};

void writeData(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Output*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        out->bytes.insert(out->bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) png_error(png, "Write Error");
}

void flushData(png_structp) {}

// Everything between png_create and png_destroy: libpng leaves through longjmp on
// an error, so this frame holds only plain values.
int writeRows(png_structp png, png_infop info, const opj_image_t* image, int n, int p, png_bytep row,
              OPJ_INT32* samples) {
    if (setjmp(png_jmpbuf(png))) return 1;
    png_set_compression_level(png, 9);

    const OPJ_UINT32 width = image->comps[0].w;
    const OPJ_UINT32 height = image->comps[0].h;
    const bool sgnd = image->comps[0].sgnd != 0;
    png_color_8 sig;
    std::memset(&sig, 0, sizeof sig);
    int colorType;
    if (n >= 3) {
        colorType = n == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        sig.red = sig.green = sig.blue = static_cast<png_byte>(p);
    } else {
        colorType = n == 2 ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
        sig.gray = static_cast<png_byte>(p);
    }
    if (n % 2 == 0) sig.alpha = static_cast<png_byte>(p);
    png_set_IHDR(png, info, width, height, p, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_sBIT(png, info, &sig);
    png_write_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t(p) * width * n + 7) / 8) return 1;

    const OPJ_INT32 shift = sgnd ? OPJ_INT32(1) << (p - 1) : 0;
    for (OPJ_UINT32 y = 0; y < height; ++y) {
        const size_t base = size_t(y) * width;
        for (OPJ_UINT32 x = 0; x < width; ++x)
            for (int c = 0; c < n; ++c) samples[size_t(x) * n + c] = image->comps[c].data[base + x] + shift;
        const size_t count = size_t(width) * n;
        if (p == 16) {
            for (size_t i = 0; i < count; ++i) {
                row[2 * i] = static_cast<png_byte>(samples[i] >> 8);
                row[2 * i + 1] = static_cast<png_byte>(samples[i]);
            }
        } else if (p == 8) {
            for (size_t i = 0; i < count; ++i) row[i] = static_cast<png_byte>(samples[i]);
        } else {
            const size_t rowBytes = (size_t(p) * count + 7) / 8;
            std::memset(row, 0, rowBytes);
            const int perByte = 8 / p;
            for (size_t i = 0; i < count; ++i) {
                const int bitShift = 8 - p * (static_cast<int>(i % perByte) + 1);
                row[i / perByte] |= static_cast<png_byte>((samples[i] & ((1 << p) - 1)) << bitShift);
            }
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return 0;
}

}  // namespace

int writePng(opj_image* image, Bytes& out) {
    out.clear();
    if (image == nullptr || image->numcomps < 1 || image->numcomps > 4 || image->comps == nullptr) return 1;
    const int n = static_cast<int>(image->numcomps);
    const opj_image_comp_t& first = image->comps[0];
    for (int c = 0; c < n; ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        // Equal planes are what makes interleaving them safe.
        if (comp.dx != first.dx || comp.dy != first.dy || comp.prec != first.prec || comp.sgnd != first.sgnd ||
            comp.w != first.w || comp.h != first.h || comp.data == nullptr)
            return 1;
    }
    if (first.w == 0 || first.h == 0 || first.w > 0x100000 || first.h > 0x100000) return 1;
    int p = static_cast<int>(first.prec);
    if (p < 1 || p > 16) return 1;

    // Clip to the declared precision.
    for (int c = 0; c < n; ++c) {
        opj_image_comp_t& comp = image->comps[c];
        const OPJ_INT32 lo = comp.sgnd ? -(OPJ_INT32(1) << (p - 1)) : 0;
        const OPJ_INT32 hi = comp.sgnd ? (OPJ_INT32(1) << (p - 1)) - 1 : (OPJ_INT32(1) << p) - 1;
        const size_t count = size_t(comp.w) * comp.h;
        for (size_t i = 0; i < count; ++i) comp.data[i] = std::min(hi, std::max(lo, comp.data[i]));
    }
    if (p > 8 && p < 16) {
        scale(image, n, p, 16);
        p = 16;
    } else if (p < 8 && n > 1) {
        scale(image, n, p, 8);
        p = 8;
    } else if (p > 1 && p < 8 && (p == 6 || p % 2 == 1)) {
        const int to = (p == 5 || p == 6) ? 8 : p + 1;
        scale(image, n, p, to);
        p = to;
    }
    if (p != 1 && p != 2 && p != 4 && p != 8 && p != 16) return 1;

    std::vector<png_byte> row((size_t(p) * first.w * n + 7) / 8 + 1);
    std::vector<OPJ_INT32> samples(size_t(first.w) * n);
    Output output;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return 1;
    png_infop info = png_create_info_struct(png);
    int result = 1;
    if (info != nullptr) {
        png_set_write_fn(png, &output, writeData, flushData);
        result = writeRows(png, info, image, n, p, row.data(), samples.data());
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    out.swap(output.bytes);
    return result;
}

int convertToPng(const uint8_t* bytes, size_t count, Bytes& out) {
    out.clear();
    if (bytes == nullptr || count == 0) return 1;
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    InputStream input{bytes, count, 0};
    Codec c;
    c.stream = opj_stream_create(std::min<size_t>(count, 1 << 20), OPJ_TRUE);
    if (c.stream == nullptr) return 1;
    opj_stream_set_user_data(c.stream, &input, nullptr);
    opj_stream_set_user_data_length(c.stream, count);
    opj_stream_set_read_function(c.stream, readInput);
    opj_stream_set_skip_function(c.stream, skipInput);
    // Seeking is cheap on memory and saves the decoder from reading through
    // every tile part.
    opj_stream_set_seek_function(c.stream, seekInput);

    c.codec = opj_create_decompress(OPJ_CODEC_JP2);
    if (c.codec == nullptr) return 1;
    opj_set_info_handler(c.codec, quiet, nullptr);
    opj_set_warning_handler(c.codec, quiet, nullptr);
    opj_set_error_handler(c.codec, quiet, nullptr);
    if (!opj_setup_decoder(c.codec, &parameters)) return 1;
    if (!opj_read_header(c.stream, c.codec, &c.image)) return 1;
    // The header alone says what decoding would cost: a few hundred bytes may
    // declare an image of gigabytes.
    if (!withinLimits(*c.image)) return 1;
    if (!opj_decode(c.codec, c.stream, c.image) || !opj_end_decompress(c.codec, c.stream)) return 1;
    // The samples are written as decoded: an ICC profile is ignored, no colour conversion.
    return writePng(c.image, out);
}

}  // namespace photo
