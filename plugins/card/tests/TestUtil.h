#pragma once
// Helpers shared by the card plug-in's unit tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>

#include "base/AppException.h"
#include "base/Bytes.h"
#include "mrtdutils/DESedeSecureMessagingWrapper.h"
#include "mrtdutils/Util.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/SecretKey.h"
#include "smartcardio/CardChannel.h"

// "0A 1b ff" -> bytes; blanks are ignored.
inline Bytes hex(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The message of the AppException `body` throws; fails the test when it throws nothing.
template <typename Body>
std::string failureOf(Body body) {
    try {
        body();
    } catch (const AppException& e) {
        return e.message();
    }
    ADD_FAILURE() << "no AppException";
    return "";
}

inline Bytes encrypt3des(const Bytes& key, const Bytes& plain) {
    auto k = mscapiprovider::SecretKey::getInstance(key, mscapiprovider::CALG_3DES);
    return mscapiprovider::Cipher::getInstance(*k, mscapiprovider::Cipher::ENCRYPT)->doFinalNoPadding(plain);
}

// The card's side of secure messaging under the session keys of the ICAO worked
// example: what a card answers to a protected command.
struct SmCardSide {
    const Bytes kSEnc = hex("979EC13B1CBFE9DC D01AB0FED307EAE5 979EC13B1CBFE9DC");
    const Bytes kSMac = hex("F1CB1F1FB5ADF208 806B89DC579DC1F8 F1CB1F1FB5ADF208");

    // DO87: the indicator 01 and the padded data encrypted.
    Bytes do87(const Bytes& plain) const {
        Bytes ct = encrypt3des(kSEnc, mrtdutils::Util::pad(plain));
        return Bytes{0x87} + mrtdutils::DESedeSecureMessagingWrapper::encodeLength(ct.size() + 1) + Bytes{0x01} + ct;
    }
    // `objects`, DO8E over them under counter `ssc`, then `sw`.
    Bytes answer(const Bytes& objects, uint64_t ssc, const std::string& sw = "9000") const {
        Bytes counter(8);
        for (int i = 0; i < 8; ++i) counter[i] = static_cast<uint8_t>(ssc >> (56 - 8 * i));
        Bytes mac = mscapiprovider::computeMac(kSMac, mrtdutils::Util::pad(counter + objects));
        return objects + Bytes{0x8E, 0x08} + mac + hex(sw);
    }
};

// A card conversation stated in advance: each command must be exactly the next
// one expected, and gets its answer. An extra, missing or different command
// fails the test.
class ScriptedChannel : public smartcardio::CardChannel {
public:
    ScriptedChannel& expect(const std::string& command, const std::string& answer) {
        steps_.emplace_back(hex(command), hex(answer));
        return *this;
    }
    mrtdutils::ResponseAPDU transmit(const uint8_t* command, size_t length) const override {
        Bytes sent(command, command + length);
        if (steps_.empty()) {
            ADD_FAILURE() << "unexpected command " << toHex(sent);
            return mrtdutils::ResponseAPDU(hex("6F00"));
        }
        auto step = steps_.front();
        steps_.pop_front();
        EXPECT_EQ(toHex(step.first), toHex(sent));
        return mrtdutils::ResponseAPDU(step.second);
    }
    ~ScriptedChannel() override {
        for (const auto& step : steps_) ADD_FAILURE() << "command never sent: " << toHex(step.first);
    }

private:
    mutable std::deque<std::pair<Bytes, Bytes>> steps_;
};
