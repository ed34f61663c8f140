// No PIN digit and no key outlives its use. This program replaces the global
// operator new and delete: while a PIN change or a Basic Access Control session
// runs, every block given back is searched for pieces of the secrets before it is
// freed. The blocks come from malloc, which AddressSanitizer watches as well.
// Memory that C code frees itself (OpenSSL's, the C runtime's) is not seen.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "TestUtil.h"
#include "app/PinDialog.h"
#include "app/Vexa.h"
#include "mscapiprovider/MessageDigest.h"
#include "vexaldscore/VexaBac.h"
#include "vexaldscore/VexaLds.h"
#include "vexapkicore/VexaPki.h"
#include "zelvo/paths.h"

namespace {

std::vector<std::string> g_needles;  // filled before a watch, untouched during it
std::atomic<bool> g_watching{false};
std::atomic<int> g_found{-1};

// Each block is preceded by what its release needs: where malloc's block
// starts and how many bytes were asked for. The same on every C library (no
// malloc_usable_size, no aligned_alloc on Windows).
struct BlockHeader {
    void* base;
    std::size_t size;
};

void* allocate(std::size_t n, std::size_t align, bool nothrow) {
    align = std::max(align, alignof(std::max_align_t));
    const std::size_t total = sizeof(BlockHeader) + align + n;
    char* base = total < n ? nullptr : static_cast<char*>(std::malloc(total));
    if (base == nullptr) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    // A block starts clean: what a free finds was written while it was in use.
    std::memset(base, 0, total);
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(base) + sizeof(BlockHeader);
    char* p = base + ((first + align - 1) / align * align - reinterpret_cast<std::uintptr_t>(base));
    reinterpret_cast<BlockHeader*>(p)[-1] = BlockHeader{base, n};
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    const BlockHeader header = static_cast<BlockHeader*>(p)[-1];
    const char* bytes = static_cast<const char*>(p);
    for (size_t i = 0; g_watching && i < g_needles.size(); ++i)
        if (std::search(bytes, bytes + header.size, g_needles[i].begin(), g_needles[i].end()) != bytes + header.size)
            g_found = int(i);
    std::free(header.base);
}

// Watches the frees of its scope for each 8-byte piece of the keys and every 3
// digits in a row of the PINs (whose own buffers must outlive it).
struct Watch {
    Watch(const std::vector<Bytes>& keys, const std::vector<std::string>& pins) {
        for (const Bytes& key : keys)
            for (size_t at = 0; at < key.size(); at += 8) {
                const uint8_t* piece = key.data() + std::min(at, key.size() - 8);
                g_needles.emplace_back(piece, piece + 8);
            }
        for (const std::string& pin : pins)
            for (size_t at = 0; at + 3 <= pin.size(); ++at) g_needles.push_back(pin.substr(at, 3));
        g_found = -1;
        g_watching = true;
    }
    ~Watch() {
        g_watching = false;
        g_needles.clear();
    }
};

// Agrees to every command and copies none.
struct AgreeingCard : smartcardio::CardChannel {
    mrtdutils::ResponseAPDU transmit(const uint8_t*, size_t) const override {
        static const uint8_t ok[] = {0x90, 0x00};
        return mrtdutils::ResponseAPDU(ok, 2);
    }
};

}  // namespace

#define FREE_FORMS(...)                                                  \
    void operator delete(void* p __VA_ARGS__) noexcept { release(p); }  \
    void operator delete[](void* p __VA_ARGS__) noexcept { release(p); }
#define NEW_FORMS(align, nothrow, ...)                                                                         \
    void* operator new(std::size_t n __VA_ARGS__) noexcept(nothrow) { return allocate(n, align, nothrow); }  \
    void* operator new[](std::size_t n __VA_ARGS__) noexcept(nothrow) { return allocate(n, align, nothrow); }
FREE_FORMS()
FREE_FORMS(, std::size_t)
FREE_FORMS(, std::align_val_t)
FREE_FORMS(, std::size_t, std::align_val_t)
FREE_FORMS(, const std::nothrow_t&)
FREE_FORMS(, std::align_val_t, const std::nothrow_t&)
NEW_FORMS(0, false)
NEW_FORMS(0, true, , const std::nothrow_t&)
NEW_FORMS(std::size_t(a), false, , std::align_val_t a)
NEW_FORMS(std::size_t(a), true, , std::align_val_t a, const std::nothrow_t&)

TEST(Secrets, NoPinDigitOutlivesAPinChange) {
    // The dialog program (a stand-in that answers two PINs) is named by a path
    // that holds no digit: relative to this program's folder.
    std::filesystem::current_path(std::filesystem::u8path(zelvo::programDir()));
    ASSERT_TRUE(zelvo::setEnv("ZELVO_DIALOG", std::string(".") + zelvo::kPathSeparator + VEXA_PIN_ANSWER));
    AgreeingCard card;
    auto pki = vexapkicore::VexaPki::getInstance(card);
    auto lds = vexaldscore::VexaLds::getInstance(card);
    Vexa vexa(*pki, *lds);
    std::string message;
    const std::vector<std::string> pins = {"80635179", "42918376"};
    {
        Watch watch({}, pins);
        ASSERT_EQ(0, PinDialog::backgroundRun(PinDialog::AUTH));
        message = vexa.cambiarPin(1, PinDialog::currentPin(), PinDialog::newPin()).message;
        PinDialog::wipe();
    }
    EXPECT_EQ(-1, g_found.load()) << "a freed block held PIN digits";
    EXPECT_EQ("PIN actualizado correctamente", message);
}

TEST(Secrets, NoKeyOutlivesBasicAccessControlOrSecureMessaging) {
    // The ICAO Doc 9303 worked example; then a PIN travels under secure messaging.
    const Bytes rndIcc = hex("4608F91988702212"), rndIfd = hex("781723860C06C226"), pin = ascii("80635179");
    const Bytes kIfd = hex("0B795240CB7049B01C19B33E32804F0B"), kIcc = hex("0B4F80323EB3191CB04970CB4052790B");
    Bytes seed = mrtdutils::Util::computeKeySeed("L898902C<", "690806", "940623"), session(16);
    for (size_t i = 0; i < 16; ++i) session[i] = kIfd[i] ^ kIcc[i];
    std::vector<Bytes> keys = {rndIfd, kIfd, kIcc, seed, session, mscapiprovider::sha1(ascii("L898902C<369080619406236"))};
    for (const Bytes* s : {&seed, &session})
        for (uint8_t counter : {1, 2}) keys.push_back(mscapiprovider::sha1(*s + Bytes{0, 0, 0, counter}));
    const Bytes reply = SmCardSide().answer(hex("99029000"), 0x887022120C06C228);
    const std::vector<std::string> pins = {"80635179"};
    {
        Watch watch(keys, pins);
        auto bac = vexaldscore::VexaBac::getInstance("L898902C<", "690806", "940623", rndIcc, rndIfd, kIfd);
        bac->doBac(hex("46B9342A41396CD7386BF5803104D7CEDC122B9132139BAF2EEDC94EE178534F 2F2D235D074D7449 9000"));
        auto sm = mrtdutils::DESedeSecureMessagingWrapper::getInstance(bac->getKSEnc(), bac->getKSMac(), bac->getSsc());
        bac.reset();
        sm->wrapCommandAPDU(mrtdutils::CommandAPDU(0x00, 0x20, 0x00, 0x01, pin, 0));
        EXPECT_EQ(hex("9000"), sm->unwrap(reply.data(), reply.size()));
    }
    EXPECT_EQ(-1, g_found.load()) << "a freed block held key material";
}
