#pragma once
// The connection to the card in one reader; every APDU goes through transmit.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mrtdutils/ResponseAPDU.h"

namespace smartcardio {

class CardTerminal;

class CardChannel {
public:
    // Connects to the card in `readerName` with the reader settings.
    static std::unique_ptr<CardChannel> getInstance(const CardTerminal& terminal, const std::string& readerName);
    // Disconnects, leaving the card powered and unreset.
    virtual ~CardChannel();
    CardChannel(const CardChannel&) = delete;
    CardChannel& operator=(const CardChannel&) = delete;

    virtual mrtdutils::ResponseAPDU transmit(const uint8_t* command, size_t length) const;

    // 1 for T=0, 2 for T=1.
    unsigned long protocol() const { return protocol_; }

protected:
    // A channel without a card connection: for scripted conversations in tests,
    // which override transmit.
    CardChannel() : card_(0), protocol_(0), pciLength_(0) {}

private:
    CardChannel(std::uintptr_t card, unsigned long protocol, unsigned long pciLength)
        : card_(card), protocol_(protocol), pciLength_(pciLength) {}
    std::uintptr_t card_;       // an SCARDHANDLE
    unsigned long protocol_;    // protocol control information: protocol and structure length
    unsigned long pciLength_;
};

}  // namespace smartcardio
