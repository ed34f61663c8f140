// No PIN digit and no key outlives its use. This program replaces the global
// operator new and delete: while a PIN change or a Basic Access Control session
// runs, every block given back is searched for pieces of the secrets before it is
// freed. The blocks come from malloc, which AddressSanitizer watches as well.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#include "TestUtil.h"
#include "app/PinDialog.h"
#include "app/Vexa.h"
#include "mscapiprovider/MessageDigest.h"
#include "vexaldscore/VexaBac.h"
#include "vexaldscore/VexaLds.h"
#include "vexapkicore/VexaPki.h"

namespace {

std::vector<std::string> g_needles;  // filled before a watch, untouched during it
std::atomic<bool> g_watching{false};
std::atomic<int> g_found{-1};

void* allocate(std::size_t n, std::size_t align, bool nothrow) {
    void* p = align > alignof(std::max_align_t) ? std::aligned_alloc(align, (n / align + 1) * align) : std::malloc(n + 1);
    if (p == nullptr && !nothrow) throw std::bad_alloc();
    // A block starts clean: what a free finds was written while it was in use.
    if (p != nullptr) std::memset(p, 0, malloc_usable_size(p));
    return p;
}

void release(void* p) noexcept {
    for (size_t i = 0; p != nullptr && g_watching && i < g_needles.size(); ++i)
        if (memmem(p, malloc_usable_size(p), g_needles[i].data(), g_needles[i].size()) != nullptr) g_found = int(i);
    std::free(p);
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
    // The dialog program answers from a folder whose name holds no digit.
    char dir[] = "/tmp/vexa-pins-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir) && chdir(dir) == 0);
    std::ofstream("pin") << "#!/bin/sh\nprintf '80635179\\n42918376\\n'\n";
    chmod("pin", 0700);
    setenv("ZELVO_DIALOG", "./pin", 1);
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
    std::system(("rm -rf " + std::string(dir)).c_str());
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
