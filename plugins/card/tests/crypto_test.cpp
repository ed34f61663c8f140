// The primitives' own rules, and SHA-1 against FIPS 180. Triple DES (both ways)
// and the retail MAC's single DES are checked byte for byte on the ICAO worked
// example (bac_example_test), which any fault in them would break.
#include "TestUtil.h"
#include "mscapiprovider/MessageDigest.h"
#include "mscapiprovider/Random.h"

using namespace mscapiprovider;

namespace {

Bytes encryptNoPadding(const Bytes& key, uint32_t alg, const Bytes& data) {
    auto k = SecretKey::getInstance(key, alg);
    return Cipher::getInstance(*k, Cipher::ENCRYPT)->doFinalNoPadding(data);
}

}  // namespace

TEST(TripleDes, ATwoKeyKeyGivenAsK1K2IsK1K2K1) {
    Bytes k1k2 = hex("AB94FDECF2674FDF B9B391F85D7F76F2");
    Bytes s = hex("781723860C06C226 4608F91988702212 0B795240CB7049B0 1C19B33E32804F0B");
    EXPECT_EQ(toHex(encryptNoPadding(k1k2 + Bytes(k1k2.begin(), k1k2.begin() + 8), CALG_3DES, s)),
              toHex(encryptNoPadding(k1k2, CALG_3DES, s)));
}

TEST(Cipher, EveryCallStartsFromTheZeroVectorAndPaddingIsAWholeBlockAtMost) {
    auto k = SecretKey::getInstance(hex("AB94FDECF2674FDF B9B391F85D7F76F2 AB94FDECF2674FDF"), CALG_3DES);
    auto enc = Cipher::getInstance(*k, Cipher::ENCRYPT);
    auto dec = Cipher::getInstance(*k, Cipher::DECRYPT);
    Bytes plain(32, 0x5A);
    Bytes padded = enc->doFinal(plain);
    EXPECT_EQ(toHex(enc->doFinalNoPadding(plain)), toHex(Bytes(padded.begin(), padded.end() - 8)));
    EXPECT_EQ(toHex(plain), toHex(dec->doFinal(padded)));
    // A plaintext that ends like valid padding comes back whole without padding.
    Bytes lookalike = hex("0102030405060708 0808080808080808");
    EXPECT_EQ(toHex(lookalike), toHex(dec->doFinalNoPadding(enc->doFinalNoPadding(lookalike))));
    // Unpadded ciphertext is refused by the padded decryption; partial blocks by both.
    EXPECT_EQ("No se obtuvo la cadena desencriptada", failureOf([&] { dec->doFinal(enc->doFinalNoPadding(plain)); }));
    EXPECT_EQ("No se obtuvo la cadena encriptada", failureOf([&] { enc->doFinalNoPadding(Bytes(7, 0)); }));
    EXPECT_EQ("No se obtuvo la cadena desencriptada", failureOf([&] { dec->doFinalNoPadding(Bytes(9, 0)); }));
}

TEST(Crypto, WrongKeysAndPartialBlocksAreRefused) {
    const std::string noKey = "No se ha importado la clave";
    const std::string partial = "IllegalArgumentException: MAC input must be whole blocks";
    EXPECT_EQ(noKey, failureOf([] { SecretKey::getInstance(Bytes(7, 1), CALG_DES); }));
    EXPECT_EQ(noKey, failureOf([] { SecretKey::getInstance(Bytes(23, 1), CALG_3DES); }));
    EXPECT_EQ(noKey, failureOf([] { SecretKey::getInstance(Bytes(8, 1), CALG_SHA1); }));
    EXPECT_EQ(noKey, failureOf([] { computeMac(Bytes(16), Bytes(8)); }));
    const Bytes key = SmCardSide().kSMac;
    EXPECT_EQ(partial, failureOf([&] { computeMac(key, Bytes()); }));
    EXPECT_EQ(partial, failureOf([&] { computeMac(key, Bytes(12)); }));
}

TEST(MessageDigest, Sha1PublishedValues) {
    const std::string abc = "a9993e364706816aba3e25717850c26c9cd0d89d";
    EXPECT_EQ(abc, toHex(sha1(ascii("abc"))));
    EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1",
              toHex(sha1(ascii("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))));
    EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", toHex(sha1(Bytes())));
    auto md = MessageDigest::getInstance(CALG_SHA1);
    md->update(ascii("a"));
    md->update(ascii("bc"));
    EXPECT_EQ(abc, toHex(md->digest()));
    EXPECT_EQ(abc, toHex(md->digest()));
    EXPECT_EQ("No se puede actualizar el hash", failureOf([&] { md->update(ascii("d")); }));
    EXPECT_EQ("No se ha iniciado el hash", failureOf([] { MessageDigest::getInstance(CALG_3DES); }));
}

TEST(Random, GivesTheCountAskedAndNeverTheSameTwice) {
    EXPECT_EQ(0u, Random::nextBytes(0).size());
    Bytes a = Random::nextBytes(16);
    EXPECT_EQ(16u, a.size());
    EXPECT_NE(a, Random::nextBytes(16));
}
