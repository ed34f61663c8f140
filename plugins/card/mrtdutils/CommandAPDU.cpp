#include "mrtdutils/CommandAPDU.h"

#include "base/AppException.h"
#include "zelvo/log.h"

namespace mrtdutils {

CommandAPDU::CommandAPDU(int cla, int ins, int p1, int p2) { init(cla, ins, p1, p2, Bytes(), 0, 0); }

CommandAPDU::CommandAPDU(int cla, int ins, int p1, int p2, int ne) { init(cla, ins, p1, p2, Bytes(), 0, ne); }

CommandAPDU::CommandAPDU(int cla, int ins, int p1, int p2, const Bytes& data, int ne) {
    init(cla, ins, p1, p2, data, static_cast<int>(data.size() > 0x7fffffff ? 0x7fffffff : data.size()), ne);
}

CommandAPDU::CommandAPDU(int cla, int ins, int p1, int p2, const Bytes& data, int dataLength, int ne) {
    init(cla, ins, p1, p2, data, dataLength, ne);
}

CommandAPDU CommandAPDU::readBinary(int p1, int p2, int ne) { return CommandAPDU(0x00, 0xB0, p1, p2, ne); }

CommandAPDU::~CommandAPDU() { wipe(bytes_); }

void CommandAPDU::checkArrayBounds(int offset, int length) {
    if (offset < 0 || length < 0)
        APP_THROW("mrtdutils::CommandAPDU::checkArrayBounds", "(ofs < 0) || (len < 0)",
                  "IllegalArgumentException: Offset and length must not be negative");
}

void CommandAPDU::init(int cla, int ins, int p1, int p2, const Bytes& data, int dataLength, int ne) {
    static const char* const kFunction = "mrtdutils::CommandAPDU::init";
    LOG_INFO(kFunction) << "Creando comando apdu";
    dataOffset_ = 0;
    checkArrayBounds(0, dataLength);
    if (dataLength > 65535) APP_THROW(kFunction, "", "IllegalArgumentException: dataLength is too large");
    if (ne < 0) APP_THROW(kFunction, "", "IllegalArgumentException: ne must not be negative");
    if (ne > 65536) APP_THROW(kFunction, "", "IllegalArgumentException: ne is too large");
    // The data must really be there: the encoding copies dataLength bytes from it.
    if (static_cast<size_t>(dataLength) > data.size())
        APP_THROW(kFunction, "data.size() < dataLength", "IllegalArgumentException: data is too short");
    nc_ = dataLength;
    ne_ = ne;

    // Reserved at its final size (header, Lc, data, Le): growing would leave copies of the data behind.
    const bool extended = dataLength > 255 || ne > 256;
    bytes_.reserve(4 + (dataLength > 0 ? (extended ? 3 : 1) + dataLength : 0) + (ne > 0 ? (extended ? 3 : 1) : 0));
    bytes_ = {static_cast<uint8_t>(cla), static_cast<uint8_t>(ins), static_cast<uint8_t>(p1),
              static_cast<uint8_t>(p2)};
    auto shortLe = [&] { bytes_.push_back(static_cast<uint8_t>(ne == 256 ? 0 : ne)); };
    auto extendedLe = [&] {
        int le = ne == 65536 ? 0 : ne;
        bytes_.push_back(static_cast<uint8_t>(le >> 8));
        bytes_.push_back(static_cast<uint8_t>(le));
    };
    if (dataLength == 0) {
        if (ne == 0) return;  // case 1
        if (ne <= 256) {      // case 2S
            shortLe();
        } else {              // case 2E
            bytes_.push_back(0);
            extendedLe();
        }
        return;
    }
    const uint8_t* first = data.data();
    if (dataLength <= 255 && ne <= 256) {  // cases 3S and 4S
        dataOffset_ = 5;
        bytes_.push_back(static_cast<uint8_t>(dataLength));
        bytes_.insert(bytes_.end(), first, first + dataLength);
        if (ne > 0) shortLe();
        return;
    }
    dataOffset_ = 7;  // cases 3E and 4E
    bytes_.push_back(0);
    bytes_.push_back(static_cast<uint8_t>(dataLength >> 8));
    bytes_.push_back(static_cast<uint8_t>(dataLength));
    bytes_.insert(bytes_.end(), first, first + dataLength);
    if (ne > 0) extendedLe();
}

Bytes CommandAPDU::getData() const {
    return Bytes(bytes_.begin() + dataOffset_, bytes_.begin() + dataOffset_ + nc_);
}

}  // namespace mrtdutils
