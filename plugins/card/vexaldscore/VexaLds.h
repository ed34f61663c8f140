#pragma once
// The card's ICAO travel-document (LDS) application: plain selection, data group 1
// and Basic Access Control, then data groups read under secure messaging.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Bytes.h"
#include "mrtdutils/CommandAPDU.h"
#include "mrtdutils/DESedeSecureMessagingWrapper.h"
#include "mrtdutils/ResponseAPDU.h"

namespace smartcardio {
class CardChannel;
}

namespace vexaldscore {

class VexaLds {
public:
    // The channel is not owned and must outlive the object.
    static std::unique_ptr<VexaLds> getInstance(const smartcardio::CardChannel& channel);

    // SELECT by name (P1 04, P2 0C) of a 7-byte application identifier.
    Bytes select(const Bytes& aid);
    // Data group 1 in plain: 61 5B 5F 1F 58 and the 88 MRZ characters.
    Bytes readDg1();
    // The card's 8-byte challenge.
    Bytes getChallenge();
    // The whole answer, status bytes included.
    Bytes externalAuthenticate(const Bytes& data);
    // Basic Access Control with the keys of the card's own MRZ; installs the
    // secure-messaging wrapper. A failure keeps the wrapper there was.
    void doBac();
    // Data group 1-30 under secure messaging: the two length bytes, file bytes
    // 4 and 5, the first answer's status bytes, then file bytes 6 onwards at
    // their own positions.
    Bytes readBinaryDg(int dgToRead);
    // Wraps, sends and unwraps one command; resends once on 6Cxx. Returns data || SW1 SW2.
    Bytes secureTransmit(const mrtdutils::CommandAPDU& command);

    static void checkSw(const mrtdutils::ResponseAPDU& response, const std::string& operationName);

    bool hasWrapper() const { return wrapper_ != nullptr; }
    // For tests that start from known session keys.
    void setWrapper(std::unique_ptr<mrtdutils::DESedeSecureMessagingWrapper> wrapper) { wrapper_ = std::move(wrapper); }

private:
    explicit VexaLds(const smartcardio::CardChannel& channel) : channel_(channel) {}
    mrtdutils::ResponseAPDU transmit(const Bytes& command);
    Bytes wrapAndSend(const mrtdutils::CommandAPDU& command);

    const smartcardio::CardChannel& channel_;
    std::unique_ptr<mrtdutils::DESedeSecureMessagingWrapper> wrapper_;
};

}  // namespace vexaldscore
