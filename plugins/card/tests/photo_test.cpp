// writePng's layouts and precision rules, read back with libpng; convertToPng on
// a JP2 file made by opj_compress, on a raw codestream and on nothing.
#include <gtest/gtest.h>
#include <openjpeg.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "photo/PngConverter.h"

namespace {

struct Decoded {
    int width = 0, height = 0, depth = 0, colorType = -1;
    png_color_8 sbit{};
    bool hasSbit = false;
    std::vector<std::vector<unsigned>> rows;  // samples, one per channel value
};

struct Reader {
    const Bytes* data;
    size_t pos;
};

void readData(png_structp png, png_bytep out, png_size_t length) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->pos + length > r->data->size()) png_error(png, "short");
    std::memcpy(out, r->data->data() + r->pos, length);
    r->pos += length;
}

// Fills `d`; false when libpng refuses the file.
bool decodePng(const Bytes& file, Decoded& d) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Reader reader{&file, 0};
    std::vector<png_byte> row;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readData);
    png_read_info(png, info);
    d.width = static_cast<int>(png_get_image_width(png, info));
    d.height = static_cast<int>(png_get_image_height(png, info));
    d.depth = png_get_bit_depth(png, info);
    d.colorType = png_get_color_type(png, info);
    png_color_8p sbit = nullptr;
    if (png_get_sBIT(png, info, &sbit) && sbit) {
        d.hasSbit = true;
        d.sbit = *sbit;
    }
    const int channels = png_get_channels(png, info);
    row.resize(png_get_rowbytes(png, info));
    for (int y = 0; y < d.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        std::vector<unsigned> samples;
        for (int i = 0; i < d.width * channels; ++i) {
            if (d.depth == 16) {
                samples.push_back(unsigned(row[2 * i]) << 8 | row[2 * i + 1]);
            } else if (d.depth == 8) {
                samples.push_back(row[i]);
            } else {
                const int per = 8 / d.depth;
                samples.push_back((row[i / per] >> (8 - d.depth * (i % per + 1))) & ((1u << d.depth) - 1));
            }
        }
        d.rows.push_back(samples);
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// An image of n components, w x h, with sample(c, x, y) in each.
template <typename Sample>
opj_image_t* makeImage(int n, int w, int h, int prec, bool sgnd, Sample sample) {
    std::vector<opj_image_cmptparm_t> params(n);
    for (auto& p : params) {
        std::memset(&p, 0, sizeof p);
        p.dx = p.dy = 1;
        p.w = w;
        p.h = h;
        p.prec = prec;
        p.sgnd = sgnd;
    }
    opj_image_t* image = opj_image_create(n, params.data(), n >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    image->x1 = w;
    image->y1 = h;
    for (int c = 0; c < n; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) image->comps[c].data[y * w + x] = sample(c, x, y);
    return image;
}

struct ImageDeleter {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;

Decoded written(opj_image_t* raw) {
    Image image(raw);
    Bytes png;
    EXPECT_EQ(0, photo::writePng(image.get(), png));
    Decoded d;
    EXPECT_TRUE(decodePng(png, d));
    return d;
}

}  // namespace

TEST(WritePng, ComponentsGiveGreyAlphaRgbRgba) {
    auto sample = [](int c, int x, int y) { return (c * 50 + x * 3 + y * 11) % 256; };
    const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    for (int n = 1; n <= 4; ++n) {
        Decoded d = written(makeImage(n, 7, 5, 8, false, sample));
        EXPECT_EQ(types[n - 1], d.colorType) << n;
        EXPECT_EQ(8, d.depth);
        ASSERT_TRUE(d.hasSbit);
        if (n >= 3) {
            EXPECT_EQ(8, d.sbit.red);
            EXPECT_EQ(8, d.sbit.green);
            EXPECT_EQ(8, d.sbit.blue);
        } else {
            EXPECT_EQ(8, d.sbit.gray);
        }
        if (n % 2 == 0) EXPECT_EQ(8, d.sbit.alpha);
        ASSERT_EQ(5u, d.rows.size());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                for (int c = 0; c < n; ++c) ASSERT_EQ(unsigned(sample(c, x, y)), d.rows[y][x * n + c]);
    }
}

TEST(WritePng, PrecisionRules) {
    // 12-bit grey becomes 16-bit, scaled so that the top value stays the top value.
    Decoded d = written(makeImage(1, 3, 1, 12, false, [](int, int x, int) { return x == 0 ? 0 : x == 1 ? 2048 : 4095; }));
    EXPECT_EQ(16, d.depth);
    EXPECT_EQ(16, d.sbit.gray);
    EXPECT_EQ((std::vector<unsigned>{0, 2048u * 65535 / 4095, 65535}), d.rows[0]);
    // 5-bit grey becomes 8-bit; 3-bit becomes 4-bit; 2-bit stays.
    d = written(makeImage(1, 2, 1, 5, false, [](int, int x, int) { return x ? 31 : 10; }));
    EXPECT_EQ(8, d.depth);
    EXPECT_EQ((std::vector<unsigned>{10u * 255 / 31, 255}), d.rows[0]);
    d = written(makeImage(1, 3, 1, 3, false, [](int, int x, int) { return x * 3; }));
    EXPECT_EQ(4, d.depth);
    EXPECT_EQ((std::vector<unsigned>{0, 3u * 15 / 7, 6u * 15 / 7}), d.rows[0]);
    d = written(makeImage(1, 5, 1, 2, false, [](int, int x, int) { return x % 4; }));
    EXPECT_EQ(2, d.depth);
    EXPECT_EQ((std::vector<unsigned>{0, 1, 2, 3, 0}), d.rows[0]);
    // Several components under 8 bits go to 8.
    d = written(makeImage(3, 1, 1, 4, false, [](int c, int, int) { return c == 0 ? 15 : c; }));
    EXPECT_EQ(8, d.depth);
    EXPECT_EQ((std::vector<unsigned>{255, 17, 34}), d.rows[0]);
    // Samples beyond the precision are clipped; signed ones are shifted to unsigned.
    d = written(makeImage(1, 2, 1, 8, false, [](int, int x, int) { return x ? 300 : -5; }));
    EXPECT_EQ((std::vector<unsigned>{0, 255}), d.rows[0]);
    d = written(makeImage(1, 3, 1, 8, true, [](int, int x, int) { return x == 0 ? -128 : x == 1 ? 0 : 127; }));
    EXPECT_EQ((std::vector<unsigned>{0, 128, 255}), d.rows[0]);
}

TEST(WritePng, RefusesWhatItCannotWrite) {
    Bytes png;
    auto sample = [](int, int, int) { return 1; };
    Image mixed(makeImage(3, 4, 4, 8, false, sample));
    mixed->comps[2].prec = 7;
    EXPECT_EQ(1, photo::writePng(mixed.get(), png));
    EXPECT_TRUE(png.empty());
    Image wide(makeImage(1, 4, 4, 17, false, sample));
    EXPECT_EQ(1, photo::writePng(wide.get(), png));
    Image five(makeImage(4, 2, 2, 8, false, sample));
    five->numcomps = 5;
    EXPECT_EQ(1, photo::writePng(five.get(), png));
    five->numcomps = 4;
    EXPECT_EQ(1, photo::writePng(nullptr, png));
}

TEST(ConvertToPng, Jp2FileEmptyInputAndRawCodestream) {
    Bytes png;
    EXPECT_EQ(1, photo::convertToPng(nullptr, 0, png));
    EXPECT_TRUE(png.empty());
    const uint8_t junk[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A, 0x01};
    EXPECT_EQ(1, photo::convertToPng(junk, sizeof junk, png));
    EXPECT_TRUE(png.empty());

    // A picture compressed by opj_compress, as JP2 and as a bare codestream.
    char dir[] = "/tmp/vexa-photo-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string base = dir;
    {
        std::ofstream pgm(base + "/in.pgm", std::ios::binary);
        pgm << "P5\n64 48\n255\n";
        for (int i = 0; i < 64 * 48; ++i) pgm.put(static_cast<char>(i * 7 % 256));
    }
    for (const char* ext : {"jp2", "j2k"}) {
        std::string cmd = "opj_compress -i " + base + "/in.pgm -o " + base + "/out." + ext + " >/dev/null 2>&1";
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    }
    auto slurp = [&](const std::string& name) {
        std::ifstream in(base + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    Bytes jp2 = slurp("out.jp2"), j2k = slurp("out.j2k");
    EXPECT_EQ(0, photo::convertToPng(jp2.data(), jp2.size(), png));
    Decoded d;
    ASSERT_TRUE(decodePng(png, d));
    EXPECT_EQ(64, d.width);
    EXPECT_EQ(48, d.height);
    EXPECT_EQ(PNG_COLOR_TYPE_GRAY, d.colorType);
    // Lossless by default: the pixels come back unchanged.
    for (int i = 0; i < 64 * 48; ++i) ASSERT_EQ(unsigned(i * 7 % 256), d.rows[i / 64][i % 64]);
    EXPECT_EQ(1, photo::convertToPng(j2k.data(), j2k.size(), png));
    EXPECT_TRUE(png.empty());
    // A JP2 file cut short: whatever the decoder makes of it, nothing is read past it.
    photo::convertToPng(jp2.data(), jp2.size() / 2, png);
    for (const char* name : {"in.pgm", "out.jp2", "out.j2k"}) std::remove((base + "/" + name).c_str());
    rmdir(dir);
}
