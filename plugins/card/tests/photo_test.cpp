// writePng's layouts and precision rules, read back with libpng; convertToPng on
// nothing, on junk, on a raw codestream, and on JP2 files within and over its limits.
// The card's own photo and signature are compared pixel for pixel end to end.
#include <gtest/gtest.h>
#include <openjpeg.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "photo/PngConverter.h"

namespace {

struct Decoded {
    int depth = 0, colorType = -1;
    png_uint_32 width = 0, height = 0;
    png_color_8 sbit{};
    std::vector<unsigned> samples;  // row after row, one per channel value
};

struct Reader {
    const Bytes& data;
    size_t pos;
};

// Fills `d`; false when libpng refuses the file.
bool decodePng(const Bytes& file, Decoded& d) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                             [](png_structp p, png_const_charp) { png_longjmp(p, 1); }, nullptr);
    png_infop info = png_create_info_struct(png);
    Reader reader{file, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t length) {
        auto* r = static_cast<Reader*>(png_get_io_ptr(p));
        if (r->pos + length > r->data.size()) png_error(p, "short");
        std::memcpy(out, r->data.data() + r->pos, length);
        r->pos += length;
    });
    png_read_info(png, info);
    png_get_IHDR(png, info, &d.width, &d.height, &d.depth, &d.colorType, nullptr, nullptr, nullptr);
    png_color_8p sbit = nullptr;
    if (png_get_sBIT(png, info, &sbit) && sbit) d.sbit = *sbit;
    png_set_packing(png);  // samples under 8 bits one to a byte, unscaled
    png_read_update_info(png, info);
    std::vector<png_byte> row(png_get_rowbytes(png, info));
    const size_t step = d.depth == 16 ? 2 : 1;
    for (png_uint_32 y = 0; y < d.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        for (size_t i = 0; i < row.size(); i += step) d.samples.push_back(step == 2 ? row[i] << 8 | row[i + 1] : row[i]);
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct ImageDeleter {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;

// An image of n components, w x h, with sample(c, x, y) in each.
Image makeImage(int n, int w, int h, int prec, bool sgnd, const std::function<int(int, int, int)>& sample) {
    std::vector<opj_image_cmptparm_t> params(n);
    for (auto& p : params) {
        std::memset(&p, 0, sizeof p);
        p.dx = p.dy = 1;
        p.w = w;
        p.h = h;
        p.prec = prec;
        p.sgnd = sgnd;
    }
    Image image(opj_image_create(n, params.data(), n >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY));
    image->x1 = w;
    image->y1 = h;
    for (int c = 0; c < n; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) image->comps[c].data[y * w + x] = sample(c, x, y);
    return image;
}

Decoded written(const Image& image) {
    Bytes png;
    EXPECT_EQ(0, photo::writePng(image.get(), png));
    Decoded d;
    EXPECT_TRUE(decodePng(png, d));
    return d;
}

}  // namespace

TEST(WritePng, LayoutsAndPrecisionRules) {
    struct Row {
        int n, w, prec;
        bool sgnd;
        std::vector<int> samples;  // row after row, components interleaved
        int colorType, depth;
        std::string sbit;          // of the colour (or grey) and alpha channels; "" unchecked
        std::vector<unsigned> expected;
    };
    const int grey = PNG_COLOR_TYPE_GRAY;
    const Row rows[] = {
        // One to four components: grey, grey and alpha, RGB, RGBA.
        {1, 2, 8, false, {0, 100, 200, 255}, grey, 8, "8", {0, 100, 200, 255}},
        {2, 1, 8, false, {0, 255, 7, 9}, PNG_COLOR_TYPE_GRAY_ALPHA, 8, "8 8", {0, 255, 7, 9}},
        {3, 1, 8, false, {1, 2, 3, 4, 5, 6}, PNG_COLOR_TYPE_RGB, 8, "8 8 8", {1, 2, 3, 4, 5, 6}},
        {4, 1, 8, false, {1, 2, 3, 4, 5, 6, 7, 8}, PNG_COLOR_TYPE_RGB_ALPHA, 8, "8 8 8 8", {1, 2, 3, 4, 5, 6, 7, 8}},
        // 12-bit grey becomes 16-bit, scaled so that the top value stays the top value.
        {1, 3, 12, false, {0, 2048, 4095}, grey, 16, "16", {0, 2048u * 65535 / 4095, 65535}},
        // 5-bit grey becomes 8-bit; 3-bit becomes 4-bit; 2-bit stays.
        {1, 2, 5, false, {10, 31}, grey, 8, "", {10u * 255 / 31, 255}},
        {1, 3, 3, false, {0, 3, 6}, grey, 4, "", {0, 3u * 15 / 7, 6u * 15 / 7}},
        {1, 5, 2, false, {0, 1, 2, 3, 0}, grey, 2, "", {0, 1, 2, 3, 0}},
        // Several components under 8 bits go to 8.
        {3, 1, 4, false, {15, 1, 2}, PNG_COLOR_TYPE_RGB, 8, "", {255, 17, 34}},
        // Samples beyond the precision are clipped; signed ones are shifted to unsigned.
        {1, 2, 8, false, {-5, 300}, grey, 8, "", {0, 255}},
        {1, 3, 8, true, {-128, 0, 127}, grey, 8, "", {0, 128, 255}},
    };
    for (const Row& row : rows) {
        const int h = static_cast<int>(row.samples.size()) / (row.n * row.w);
        Decoded d = written(makeImage(row.n, row.w, h, row.prec, row.sgnd,
                                      [&](int c, int x, int y) { return row.samples[(y * row.w + x) * row.n + c]; }));
        EXPECT_EQ(row.colorType, d.colorType) << row.n << " " << row.prec;
        EXPECT_EQ(row.depth, d.depth) << row.n << " " << row.prec;
        const png_color_8& b = d.sbit;
        std::string sbit = (row.n >= 3 ? std::to_string(b.red) + " " + std::to_string(b.green) + " " + std::to_string(b.blue)
                                       : std::to_string(b.gray)) +
                           (row.n % 2 == 0 ? " " + std::to_string(b.alpha) : "");
        if (!row.sbit.empty()) { EXPECT_EQ(row.sbit, sbit) << row.n; }
        EXPECT_EQ(row.expected, d.samples) << row.n << " " << row.prec;
    }
}

TEST(WritePng, RefusesWhatItCannotWrite) {
    Bytes png;
    auto sample = [](int, int, int) { return 1; };
    Image mixed = makeImage(3, 4, 4, 8, false, sample);
    mixed->comps[2].prec = 7;
    EXPECT_EQ(1, photo::writePng(mixed.get(), png));
    EXPECT_TRUE(png.empty());
    EXPECT_EQ(1, photo::writePng(makeImage(1, 4, 4, 17, false, sample).get(), png));
    Image five = makeImage(4, 2, 2, 8, false, sample);
    five->numcomps = 5;
    EXPECT_EQ(1, photo::writePng(five.get(), png));
    five->numcomps = 4;
    EXPECT_EQ(1, photo::writePng(nullptr, png));
}

// The committed seeds of the photo's fuzz target. "declares-12000x12000.jp2" holds
// no image data in its 226 bytes, yet decoding it would take 580 MB: its sizes and
// depth are rewritten for the rows that follow it.
TEST(ConvertToPng, OnlyAWholeJp2FileWithinTheLimitsBecomesAPng) {
    Bytes png;
    EXPECT_EQ(1, photo::convertToPng(nullptr, 0, png));
    const uint8_t junk[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A, 0x01};
    EXPECT_EQ(1, photo::convertToPng(junk, sizeof junk, png));
    const char* const big = "declares-12000x12000.jp2";
    const struct Row {
        const char* file;
        uint32_t width, height, depth;
        std::string shape;  // of the PNG; empty when refused
    } rows[] = {{"grey-8bit.jp2", 0, 0, 0, "8x8 0"}, {"rgb-8bit.jp2", 0, 0, 0, "6x4 2"}, {"five-components.jp2", 0, 0, 0, ""},
                {"codestream", 0, 0, 0, ""}, {big, 12000, 12000, 8, ""}, {big, 2000, 2000, 8, "2000x2000 0"},
                {big, 2001, 2000, 8, ""}, {big, 64, 64, 16, "64x64 0"}, {big, 64, 64, 17, ""}};
    for (const Row& row : rows) {
        const bool raw = row.file == std::string("codestream");  // grey-8bit.jp2 without the JP2 boxes
        std::ifstream in(std::string(VEXA_FUZZ_CORPUS) + "/fuzz_png/" + (raw ? "grey-8bit.jp2" : row.file), std::ios::binary);
        Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const char box[] = "jp2c";
        if (raw) file.erase(file.begin(), std::search(file.begin(), file.end(), box, box + 4) + 4);
        auto put = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (24 - 8 * i)); };
        if (row.width != 0) {
            // ihdr's height, width and depth; SIZ's image and tile sizes and first component's depth.
            for (size_t at : {0x30, 0x61, 0x71}) put(at, row.height);
            for (size_t at : {0x34, 0x5D, 0x6D}) put(at, row.width);
            file[0x3A] = file[0x7F] = uint8_t(row.depth - 1);
        }
        EXPECT_EQ(row.shape.empty() ? 1 : 0, photo::convertToPng(file.data(), file.size(), png)) << row.file << row.width;
        Decoded d;
        EXPECT_EQ(!row.shape.empty(), decodePng(png, d)) << row.file;
        if (!row.shape.empty()) {
            EXPECT_EQ(row.shape, std::to_string(d.width) + "x" + std::to_string(d.height) + " " + std::to_string(d.colorType));
        }
    }
}
