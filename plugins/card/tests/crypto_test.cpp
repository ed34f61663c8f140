// Known answers from published vectors: FIPS 81 (DES), NIST SP 800-67 (TDEA),
// FIPS 180 (SHA-1) and the retail MAC of the ICAO Doc 9303 BAC worked example.
#include "TestUtil.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/MessageDigest.h"
#include "mscapiprovider/Random.h"
#include "mscapiprovider/SecretKey.h"

using namespace mscapiprovider;

namespace {

Bytes xorBytes(Bytes a, const Bytes& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) a[i] ^= b[i];
    return a;
}

Bytes encryptNoPadding(const Bytes& key, uint32_t alg, const Bytes& data) {
    auto k = SecretKey::getInstance(key, alg);
    return Cipher::getInstance(*k, Cipher::ENCRYPT)->doFinalNoPadding(data);
}

}  // namespace

TEST(Des, FipsCbcExampleWithAZeroVector) {
    // FIPS 81: key 0123456789ABCDEF, IV 1234567890ABCDEF, "Now is the time for all ".
    // Folding the IV into the first block gives the same ciphertext from a zero vector.
    Bytes plain = ascii("Now is the time for all ");
    Bytes folded = plain;
    Bytes iv = hex("1234567890ABCDEF");
    for (int i = 0; i < 8; ++i) folded[i] ^= iv[i];
    EXPECT_EQ("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6",
              toHex(encryptNoPadding(hex("0123456789ABCDEF"), CALG_DES, folded)));
    // A single block from a zero vector is the ECB result: FIPS 81's first block,
    // and SP 800-17's variable-plaintext answer.
    EXPECT_EQ("3fa40e8a984d4815", toHex(encryptNoPadding(hex("0123456789ABCDEF"), CALG_DES, ascii("Now is t"))));
    EXPECT_EQ("95f8a5e5dd31d900", toHex(encryptNoPadding(hex("0101010101010101"), CALG_DES, hex("8000000000000000"))));
}

TEST(TripleDes, Sp80067ExampleInCbcWithAZeroVector) {
    // SP 800-67 gives ECB blocks C1 C2 C3 of "The qufck brown fox jump"; CBC from a
    // zero vector over P1, P2^C1, P3^C2 must give the same blocks.
    Bytes key = hex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
    Bytes p = ascii("The qufck brown fox jump");
    Bytes c = hex("A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900");
    Bytes chained(p.begin(), p.begin() + 8);
    Bytes p2 = xorBytes(Bytes(p.begin() + 8, p.begin() + 16), Bytes(c.begin(), c.begin() + 8));
    Bytes p3 = xorBytes(Bytes(p.begin() + 16, p.end()), Bytes(c.begin() + 8, c.begin() + 16));
    chained.insert(chained.end(), p2.begin(), p2.end());
    chained.insert(chained.end(), p3.begin(), p3.end());
    EXPECT_EQ(toHex(c), toHex(encryptNoPadding(key, CALG_3DES, chained)));
    auto k = SecretKey::getInstance(key, CALG_3DES);
    EXPECT_EQ(toHex(chained), toHex(Cipher::getInstance(*k, Cipher::DECRYPT)->doFinalNoPadding(c)));
}

TEST(TripleDes, TwoKeyIcaoCryptogram) {
    // ICAO Doc 9303 Part 11 worked example: E_IFD = 3DES-CBC(K_Enc, S), zero vector.
    Bytes kEnc = hex("AB94FDECF2674FDF B9B391F85D7F76F2 AB94FDECF2674FDF");
    Bytes s = hex("781723860C06C226 4608F91988702212 0B795240CB7049B0 1C19B33E32804F0B");
    EXPECT_EQ("72c29c2371cc9bdb65b779b8e8d37b29ecc154aa56a8799fae2f498f76ed92f2",
              toHex(encryptNoPadding(kEnc, CALG_3DES, s)));
    // The same key given as K1 K2 only.
    EXPECT_EQ("72c29c2371cc9bdb65b779b8e8d37b29ecc154aa56a8799fae2f498f76ed92f2",
              toHex(encryptNoPadding(Bytes(kEnc.begin(), kEnc.begin() + 16), CALG_3DES, s)));
}

TEST(Cipher, PaddedEncryptionAddsABlockAndDecryptionStripsIt) {
    Bytes key = hex("AB94FDECF2674FDF B9B391F85D7F76F2 AB94FDECF2674FDF");
    auto k = SecretKey::getInstance(key, CALG_3DES);
    auto enc = Cipher::getInstance(*k, Cipher::ENCRYPT);
    auto dec = Cipher::getInstance(*k, Cipher::DECRYPT);
    Bytes plain(32);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7);
    Bytes padded = enc->doFinal(plain);
    ASSERT_EQ(40u, padded.size());
    EXPECT_EQ(toHex(enc->doFinalNoPadding(plain)), toHex(Bytes(padded.begin(), padded.begin() + 32)));
    EXPECT_EQ(16u, enc->doEncryption(Bytes(9, 1)).size());
    EXPECT_EQ(toHex(plain), toHex(dec->doFinal(padded)));
    // Each call starts from the zero vector again.
    EXPECT_EQ(toHex(enc->doFinalNoPadding(plain)), toHex(enc->doFinalNoPadding(plain)));
    // A plaintext that ends like valid padding comes back whole without padding.
    Bytes lookalike = hex("0102030405060708 0808080808080808");
    EXPECT_EQ(toHex(lookalike), toHex(dec->doFinalNoPadding(enc->doFinalNoPadding(lookalike))));
    // Unpadded ciphertext is refused by the padded decryption; partial blocks by both.
    EXPECT_EQ("No se obtuvo la cadena desencriptada", failureOf([&] { dec->doFinal(enc->doFinalNoPadding(plain)); }));
    EXPECT_EQ("No se obtuvo la cadena encriptada", failureOf([&] { enc->doFinalNoPadding(Bytes(7, 0)); }));
    EXPECT_EQ("No se obtuvo la cadena desencriptada", failureOf([&] { dec->doFinalNoPadding(Bytes(9, 0)); }));
}

TEST(SecretKey, WrongLengthsAreRefused) {
    EXPECT_EQ("No se ha importado la clave", failureOf([] { SecretKey::getInstance(Bytes(7, 1), CALG_DES); }));
    EXPECT_EQ("No se ha importado la clave", failureOf([] { SecretKey::getInstance(Bytes(23, 1), CALG_3DES); }));
    EXPECT_EQ("No se ha importado la clave", failureOf([] { SecretKey::getInstance(Bytes(8, 1), CALG_SHA1); }));
}

TEST(ComputeMac, RetailMacOfTheIcaoExample) {
    // M_IFD over the padded E_IFD under K_MAC (K3 = K1).
    Bytes kMac = hex("7962D9ECE03D1ACD 4C76089DCE131543 7962D9ECE03D1ACD");
    Bytes e = hex("72C29C2371CC9BDB65B779B8E8D37B29ECC154AA56A8799FAE2F498F76ED92F2 8000000000000000");
    EXPECT_EQ("5f1448eea8ad90a7", toHex(computeMac(kMac, e)));
    // And the MAC of the protected SELECT of the same example, under KS_MAC.
    Bytes ksMac = hex("F1CB1F1FB5ADF208 806B89DC579DC1F8 F1CB1F1FB5ADF208");
    Bytes n = hex("887022120C06C227 0CA4020C80000000 8709016375432908 C044F68000000000");
    EXPECT_EQ("bf8b92d635ff24f8", toHex(computeMac(ksMac, n)));
    EXPECT_EQ("IllegalArgumentException: MAC input must be whole blocks", failureOf([&] { computeMac(kMac, Bytes()); }));
    EXPECT_EQ("IllegalArgumentException: MAC input must be whole blocks", failureOf([&] { computeMac(kMac, Bytes(12)); }));
    EXPECT_EQ("No se ha importado la clave", failureOf([&] { computeMac(Bytes(16), Bytes(8)); }));
}

TEST(MessageDigest, Sha1PublishedValues) {
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", toHex(sha1(ascii("abc"))));
    EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1",
              toHex(sha1(ascii("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))));
    EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", toHex(sha1(Bytes())));
    auto md = MessageDigest::getInstance(CALG_SHA1);
    md->update(ascii("a"));
    md->update(ascii("bc"));
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", toHex(md->digest()));
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", toHex(md->digest()));
    EXPECT_EQ("No se puede actualizar el hash", failureOf([&] { md->update(ascii("d")); }));
    EXPECT_EQ("No se ha iniciado el hash", failureOf([] { MessageDigest::getInstance(CALG_3DES); }));
}

TEST(Random, GivesTheCountAsked) {
    EXPECT_EQ(0u, Random::nextBytes(0).size());
    Bytes a = Random::nextBytes(16), b = Random::nextBytes(16);
    EXPECT_EQ(16u, a.size());
    EXPECT_NE(a, b);
}

TEST(ProviderSettings, KnownKeysAreStoredOthersIgnored) {
    MSCAPIProvider::setProperty("provider", std::string("Microsoft Enhanced Cryptographic Provider v1.0"));
    MSCAPIProvider::setProperty("flags", 0xF0000000u);
    MSCAPIProvider::setProperty("providerType", 1u);
    MSCAPIProvider::setProperty("container", std::string("c"));
    ProviderSettings before = MSCAPIProvider::settings();
    MSCAPIProvider::setProperty("Provider", std::string("x"));
    MSCAPIProvider::setProperty("other", 7u);
    MSCAPIProvider::setProperty("flags", std::string("9"));
    MSCAPIProvider::setProperty("provider", 9u);
    const ProviderSettings& after = MSCAPIProvider::settings();
    EXPECT_EQ(before.provider, after.provider);
    EXPECT_EQ("Microsoft Enhanced Cryptographic Provider v1.0", after.provider);
    EXPECT_EQ("c", after.container);
    EXPECT_EQ(1u, after.providerType);
    EXPECT_EQ(0xF0000000u, after.flags);
}
