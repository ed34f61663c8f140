#pragma once
// The plain ISO/IEC 7816-4 commands of the card's PKI application: SELECT, READ
// BINARY and the two PIN commands.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/Bytes.h"
#include "mrtdutils/ResponseAPDU.h"

namespace smartcardio {
class CardChannel;
}

namespace vexapkicore {

class VexaPki {
public:
    // The channel is not owned and must outlive the object.
    static std::unique_ptr<VexaPki> getInstance(const smartcardio::CardChannel& channel);

    // SELECT with P1 and the identifier; returns the answer's data.
    Bytes select(int p1, const uint8_t* data, size_t count);
    // One READ BINARY at `offset` (0-32767): at most 256 bytes.
    Bytes readBinary(int offset);
    // The whole selected file.
    Bytes readBinary();
    // VERIFY of credential `id`; returns the status word unjudged.
    uint16_t verifyPassphrase(int id, const uint8_t* pin, int length);
    // CHANGE REFERENCE DATA of credential `id`; returns the status word unjudged.
    uint16_t changeReferenceData(int id, const uint8_t* currentPin, int currentLength, const uint8_t* newPin,
                                 int newLength);

    static void checkSw(const mrtdutils::ResponseAPDU& response, const std::string& operationName);

private:
    explicit VexaPki(const smartcardio::CardChannel& channel) : channel_(channel) {}
    // A read at the end of a file whose length is a multiple of 256 may be
    // answered "wrong parameters" (6B00) or "end of file" (6282 without data):
    // with `atEnd` both mean the file ends here.
    Bytes readChunk(int offset, bool atEnd);
    mrtdutils::ResponseAPDU transmit(Bytes& command);

    const smartcardio::CardChannel& channel_;
};

}  // namespace vexapkicore
