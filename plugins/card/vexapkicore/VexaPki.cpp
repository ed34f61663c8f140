#include "vexapkicore/VexaPki.h"

#include "base/AppException.h"
#include "smartcardio/CardChannel.h"
#include "zelvo/log.h"

namespace vexapkicore {

namespace {
// READ BINARY offsets are 15 bits; P1's top bit would select a short file identifier.
constexpr int kMaxOffset = 32767;
constexpr int kChunk = 256;

// Eight bytes at `at`: the PIN's first eight, filled up with FF.
void putPin(Bytes& command, size_t at, const uint8_t* pin, int length) {
    for (int i = 0; i < 8; ++i) command[at + i] = pin != nullptr && i < length ? pin[i] : 0xFF;
}
}  // namespace

std::unique_ptr<VexaPki> VexaPki::getInstance(const smartcardio::CardChannel& channel) {
    LOG_INFO("vexapkicore::VexaPki::getInstance") << "Creando instancia de vexapki";
    return std::unique_ptr<VexaPki>(new VexaPki(channel));
}

mrtdutils::ResponseAPDU VexaPki::transmit(Bytes& command) { return channel_.transmit(command.data(), command.size()); }

void VexaPki::checkSw(const mrtdutils::ResponseAPDU& response, const std::string& operationName) {
    mrtdutils::checkSw(response, operationName, "vexapkicore::VexaPki::checkSw");
}

Bytes VexaPki::select(int p1, const uint8_t* data, size_t count) {
    LOG_INFO("vexapkicore::VexaPki::select") << "Ejecutando comando select";
    if (count > 255 || (count > 0 && data == nullptr))
        APP_THROW("vexapkicore::VexaPki::select", "count", "IllegalArgumentException: dataLength is too large");
    Bytes command{0x00, 0xA4, static_cast<uint8_t>(p1), 0x00, static_cast<uint8_t>(count)};
    command.insert(command.end(), data, data + count);
    mrtdutils::ResponseAPDU response = transmit(command);
    checkSw(response, "selección");
    return response.getData();
}

Bytes VexaPki::readBinary(int offset) {
    LOG_INFO("vexapkicore::VexaPki::readBinary") << "Ejecutando comando readbinary";
    return readChunk(offset, false);
}

Bytes VexaPki::readChunk(int offset, bool atEnd) {
    if (offset < 0 || offset > kMaxOffset)
        APP_THROW("vexapkicore::VexaPki::readBinary", "offset", "IllegalArgumentException: Offset out of range");
    Bytes command{0x00, 0xB0, static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset), 0x00};
    mrtdutils::ResponseAPDU response = transmit(command);
    if (response.getSW1() == 0x6C) {
        if (response.getSW2() == 0x00) return Bytes();
        command[4] = response.getSW2();
        response = transmit(command);
    }
    if (atEnd && (response.getSW() == 0x6B00 || (response.getSW() == 0x6282 && response.getData().empty())))
        return Bytes();
    checkSw(response, "lectura binaria");
    return response.getData();
}

Bytes VexaPki::readBinary() {
    LOG_INFO("vexapkicore::VexaPki::readBinary") << "Ejecutando comando readbinary completo";
    Bytes file;
    for (;;) {
        const int offset = static_cast<int>(file.size());
        // Nothing lies beyond the last offset READ BINARY can name.
        if (offset > kMaxOffset) return file;
        Bytes chunk = readChunk(offset, offset > 0);
        file.insert(file.end(), chunk.begin(), chunk.end());
        if (chunk.size() != kChunk) return file;
    }
}

uint16_t VexaPki::verifyPassphrase(int id, const uint8_t* pin, int length) {
    LOG_INFO("vexapkicore::VexaPki::verifyPassphrase") << "Ejecutando comando verifypassphrase";
    // Built at its final size: a buffer that grew would leave PIN digits in the
    // blocks it let go.
    Bytes command(length <= 0 ? 5 : 13);
    WipeOnExit wiper(command);
    command[1] = 0x20;
    command[3] = static_cast<uint8_t>(id);
    if (length > 0) {
        command[4] = 0x08;
        putPin(command, 5, pin, length);
    }
    return transmit(command).getSW();
}

uint16_t VexaPki::changeReferenceData(int id, const uint8_t* currentPin, int currentLength, const uint8_t* newPin,
                                      int newLength) {
    LOG_INFO("vexapkicore::VexaPki::changeReferenceData") << "Ejecutando comando changereferencedata";
    Bytes command(21);
    WipeOnExit wiper(command);
    command[1] = 0x24;
    command[3] = static_cast<uint8_t>(id);
    command[4] = 0x10;
    putPin(command, 5, currentPin, currentLength);
    putPin(command, 13, newPin, newLength);
    return transmit(command).getSW();
}

}  // namespace vexapkicore
