// Smoke test of the static Windows libraries made by build-deps.sh (run by
// `build-deps.sh TRIPLET --check`): each library links statically, starts and
// gives a known answer on Windows (or Wine).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <libpsl.h>
#include <openjpeg.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <png.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string hex(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

TEST(OpenSsl, Sha1OfAbcThroughEvp) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    ASSERT_EQ(EVP_Digest("abc", 3, md, &len, EVP_sha1(), nullptr), 1);
    EXPECT_EQ(hex(md, len), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(OpenSsl, RandomBytesFromTheSystem) {
    std::array<unsigned char, 32> a{}, b{};
    ASSERT_EQ(RAND_bytes(a.data(), a.size()), 1);
    ASSERT_EQ(RAND_bytes(b.data(), b.size()), 1);
    EXPECT_NE(a, b);
}

TEST(OpenSsl, TlsContext) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    EXPECT_NE(ctx, nullptr);
}

TEST(OpenJpeg, VersionAndDecoder) {
    EXPECT_THAT(std::string(opj_version()), testing::StartsWith("2."));
    std::unique_ptr<opj_codec_t, decltype(&opj_destroy_codec)> codec(opj_create_decompress(OPJ_CODEC_J2K),
                                                                    opj_destroy_codec);
    ASSERT_NE(codec, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    EXPECT_TRUE(opj_setup_decoder(codec.get(), &parameters));
}

// A PNG written to memory and read back goes through zlib both ways.
TEST(Png, RoundTripInMemory) {
    EXPECT_THAT(std::string(png_get_libpng_ver(nullptr)), testing::StartsWith("1.6."));
    const std::vector<unsigned char> pixels = {0, 64, 128, 255, 1, 2, 3, 4, 200, 100, 50, 25, 9, 8, 7, 6};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 4;
    image.height = 4;
    image.format = PNG_FORMAT_GRAY;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
    std::vector<unsigned char> file(size);
    ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, pixels.data(), 0, nullptr));

    png_image back{};
    back.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&back, file.data(), size));
    back.format = PNG_FORMAT_GRAY;
    std::vector<unsigned char> read(PNG_IMAGE_SIZE(back));
    ASSERT_TRUE(png_image_finish_read(&back, nullptr, read.data(), 0, nullptr));
    EXPECT_EQ(read, pixels);
}

struct SuffixCase {
    const char* host;
    bool isPublicSuffix;
};

class PublicSuffix : public testing::TestWithParam<SuffixCase> {};

TEST_P(PublicSuffix, BuiltinList) {
    const psl_ctx_t* psl = psl_builtin();
    ASSERT_NE(psl, nullptr);
    EXPECT_EQ(psl_is_public_suffix(psl, GetParam().host) != 0, GetParam().isPublicSuffix) << GetParam().host;
}

INSTANTIATE_TEST_SUITE_P(Hosts, PublicSuffix,
                         testing::Values(SuffixCase{"co.uk", true}, SuffixCase{"uk", true},
                                         SuffixCase{"gob.es", true}, SuffixCase{"github.io", true},
                                         SuffixCase{"anything.ck", true},  // wildcard rule *.ck
                                         SuffixCase{"example.co.uk", false}, SuffixCase{"example.com", false},
                                         SuffixCase{"www.ck", false},  // exception !www.ck
                                         SuffixCase{"example.gob", false}),
                         [](const testing::TestParamInfo<SuffixCase>& info) {
                             std::string name = info.param.host;
                             for (char& c : name) c = c == '.' ? '_' : c;
                             return name;
                         });

TEST(PublicSuffixList, BuiltinListIsComplete) {
    EXPECT_GT(psl_suffix_count(psl_builtin()), 5000);
}

// The posix compilers' std::thread and std::mutex, linked statically.
TEST(Threads, StdThreadAndMutex) {
    std::mutex mutex;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                std::lock_guard<std::mutex> lock(mutex);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 4000);
}

}  // namespace
