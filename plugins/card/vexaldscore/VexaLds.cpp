#include "vexaldscore/VexaLds.h"

#include "base/AppException.h"
#include "mrtdutils/MRZInfo.h"
#include "smartcardio/CardChannel.h"
#include "vexaldscore/VexaBac.h"
#include "zelvo/log.h"

namespace vexaldscore {

namespace {
const char* const kReadBinaryDg = "vexaldscore::VexaLds::readBinaryDg";
const char* const kSecureTransmit = "vexaldscore::VexaLds::secureTransmit";
constexpr int kFirstRead = 6;
constexpr int kChunk = 231;
// READ BINARY's 15-bit offset; above it P1's top bit would name a short file identifier.
constexpr int kMaxOffset = 0x7FFF;

uint16_t statusOf(const Bytes& unwrapped) {
    const size_t n = unwrapped.size();
    return static_cast<uint16_t>(unwrapped[n - 2] << 8 | unwrapped[n - 1]);
}
}  // namespace

std::unique_ptr<VexaLds> VexaLds::getInstance(const smartcardio::CardChannel& channel) {
    LOG_INFO("vexaldscore::VexaLds::getInstance") << "Creando instancia de vexalds";
    return std::unique_ptr<VexaLds>(new VexaLds(channel));
}

mrtdutils::ResponseAPDU VexaLds::transmit(const Bytes& command) {
    return channel_.transmit(command.data(), command.size());
}

void VexaLds::checkSw(const mrtdutils::ResponseAPDU& response, const std::string& operationName) {
    mrtdutils::checkSw(response, operationName, "vexaldscore::VexaLds::checkSw");
}

Bytes VexaLds::select(const Bytes& aid) {
    LOG_INFO("vexaldscore::VexaLds::select") << "Ejecutando comando select";
    if (aid.size() > 255) APP_THROW("vexaldscore::VexaLds::select", "aid.size", "IllegalArgumentException: dataLength is too large");
    Bytes command{0x00, 0xA4, 0x04, 0x0C, static_cast<uint8_t>(aid.size())};
    command.insert(command.end(), aid.begin(), aid.end());
    mrtdutils::ResponseAPDU response = transmit(command);
    checkSw(response, "selección");
    return response.getData();
}

Bytes VexaLds::readDg1() {
    LOG_INFO("vexaldscore::VexaLds::readDg1") << "Ejecutando comando readdg1";
    mrtdutils::ResponseAPDU response = transmit(Bytes{0x00, 0xB6, 0x00, 0x00, 0x5D});
    checkSw(response, "lectura DG1");
    return response.getData();
}

Bytes VexaLds::getChallenge() {
    LOG_INFO("vexaldscore::VexaLds::getChallenge") << "Ejecutando comando getchallenge";
    mrtdutils::ResponseAPDU response = transmit(Bytes{0x00, 0x84, 0x00, 0x00, 0x08});
    checkSw(response, "getchallenge");
    return response.getData();
}

Bytes VexaLds::externalAuthenticate(const Bytes& data) {
    LOG_INFO("vexaldscore::VexaLds::externalAuthenticate") << "Ejecutando comando externalauthenticate";
    if (data.empty() || data.size() > 255)
        APP_THROW("vexaldscore::VexaLds::externalAuthenticate", "data.size",
                  "IllegalArgumentException: dataLength is too large");
    Bytes command{0x00, 0x82, 0x00, 0x00, static_cast<uint8_t>(data.size())};
    command.insert(command.end(), data.begin(), data.end());
    mrtdutils::ResponseAPDU response = transmit(command);
    checkSw(response, "external authenticate");
    return response.getBytes();
}

void VexaLds::doBac() {
    LOG_INFO("vexaldscore::VexaLds::doBac") << "Realizando BAC en vexalds";
    Bytes dg1 = readDg1();
    std::string text;
    if (dg1.size() > 5) text.assign(dg1.begin() + 5, dg1.end());
    mrtdutils::MRZInfo mrz = mrtdutils::MRZInfo::readObject(text);
    Bytes rndICC = getChallenge();
    std::unique_ptr<VexaBac> bac =
        VexaBac::getInstance(mrz.getMrzDocumentNumber(), mrz.getDateOfBirth(), mrz.getDateOfExpiry(), rndICC);
    Bytes answer = externalAuthenticate(bac->getCryptogram());
    bac->doBac(answer);
    wrapper_ = mrtdutils::DESedeSecureMessagingWrapper::getInstance(bac->getKSEnc(), bac->getKSMac(), bac->getSsc());
}

Bytes VexaLds::wrapAndSend(const mrtdutils::CommandAPDU& command) {
    mrtdutils::CommandAPDU wrapped = wrapper_->wrapCommandAPDU(command);
    mrtdutils::ResponseAPDU response = transmit(wrapped.getBytes());
    // A bare status word means the card dropped secure messaging.
    if (response.getBytes().size() == 2)
        APP_THROW(kSecureTransmit, "", "RuntimeException: Exception during transmission of wrapped APDU.");
    return wrapper_->unwrap(response.getBytes().data(), response.getBytes().size());
}

Bytes VexaLds::secureTransmit(const mrtdutils::CommandAPDU& command) {
    LOG_INFO(kSecureTransmit) << "Realizando transmision segura de apdu";
    if (!wrapper_) APP_THROW(kSecureTransmit, "wrapper is null", "IllegalArgumentException: messaging wrapper is null");
    Bytes unwrapped = wrapAndSend(command);
    if (unwrapped.size() >= 2 && unwrapped[unwrapped.size() - 2] == 0x6C) {
        const int ne = unwrapped.back() == 0 ? 256 : unwrapped.back();
        unwrapped = wrapAndSend(mrtdutils::CommandAPDU(command.getCLA(), command.getINS(), command.getP1(),
                                                       command.getP2(), command.getData(), ne));
    }
    return unwrapped;
}

Bytes VexaLds::readBinaryDg(int dgToRead) {
    LOG_INFO(kReadBinaryDg) << "Ejecutando comando readbinarydg";
    if (dgToRead < 1 || dgToRead > 30) APP_THROW(kReadBinaryDg, "dgToRead", "IllegalArgumentException: Incorrect DG");
    if (!wrapper_) APP_THROW(kReadBinaryDg, "wrapper is null", "IllegalArgumentException: messaging wrapper is null");

    Bytes first = secureTransmit(mrtdutils::CommandAPDU::readBinary(0x80 | dgToRead, 0x00, kFirstRead));
    // The tag, the 82 form byte, two length bytes and two more file bytes: without
    // them the file's length is unknown.
    const uint16_t firstSw = statusOf(first);
    if (first.size() != kFirstRead + 2 || (firstSw != 0x9000 && firstSw != 0x6282))
        APP_THROW(kReadBinaryDg, "", "RuntimeException: APDU response error");
    const int total = (first[2] << 8 | first[3]) + 4;
    Bytes result(first.begin() + 2, first.end());

    int offset = kFirstRead;
    for (;;) {
        int chunk = kChunk;
        bool last = false;
        if (offset + chunk > total) {
            chunk = total - offset;
            last = true;
        }
        if (chunk <= 0) break;
        if (offset > kMaxOffset) APP_THROW(kReadBinaryDg, "offset > 0x7FFF", "RuntimeException: APDU response error");
        Bytes answer = secureTransmit(mrtdutils::CommandAPDU::readBinary(offset >> 8, offset & 0xFF, chunk));
        const uint16_t sw = statusOf(answer);
        if (sw == 0x6B00) break;
        if (sw != 0x9000 && sw != 0x6282) APP_THROW(kReadBinaryDg, "", "RuntimeException: APDU response error");
        result.insert(result.end(), answer.begin(), answer.end() - 2);
        offset += chunk;
        if (last) break;
    }
    return result;
}

}  // namespace vexaldscore
