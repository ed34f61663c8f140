#include "smartcardio/CardChannel.h"

#include "base/AppException.h"
#include "smartcardio/CardTerminal.h"
#include "smartcardio/PcscCall.h"
#include "smartcardio/ReaderSettings.h"
#include "zelvo/log.h"

namespace smartcardio {

static_assert(sizeof(SCARDHANDLE) <= sizeof(std::uintptr_t), "the card handle is held as an integer");

namespace {
// 256 data bytes and the two status bytes.
constexpr DWORD kReceiveBufferSize = 258;
}  // namespace

std::unique_ptr<CardChannel> CardChannel::getInstance(const CardTerminal& terminal, const std::string& readerName) {
    LOG_INFO("smartcardio::CardChannel::getInstance") << "Creando instancia de cardchannel";
    SCARDHANDLE card = 0;
    DWORD active = 0;
    const ReaderSettings& settings = readerSettings();
    PCSC_CALL(failures::connect, platform::connect, static_cast<SCARDCONTEXT>(terminal.context()), &readerName,
              static_cast<DWORD>(settings.shareMode), static_cast<DWORD>(settings.protocols), &card, &active);
    const SCARD_IO_REQUEST* pci = nullptr;
    if (active == SCARD_PROTOCOL_T0) pci = SCARD_PCI_T0;
    else if (active == SCARD_PROTOCOL_T1) pci = SCARD_PCI_T1;
    if (pci == nullptr) {
        // The handle would otherwise stay open until the context goes.
        SCardDisconnect(card, SCARD_LEAVE_CARD);
        APP_THROW("smartcardio::CardChannel::getInstance", "SCardConnect dwActiveProtocol",
                  "Código de protocolo incorrecto");
    }
    return std::unique_ptr<CardChannel>(
        new CardChannel(static_cast<std::uintptr_t>(card), pci->dwProtocol, pci->cbPciLength));
}

CardChannel::~CardChannel() {
    if (card_ != 0) SCardDisconnect(static_cast<SCARDHANDLE>(card_), SCARD_LEAVE_CARD);
}

mrtdutils::ResponseAPDU CardChannel::transmit(const uint8_t* command, size_t length) const {
    LOG_INFO("smartcardio::CardChannel::transmit") << "transmitiendo apdu de " << length << " bytes";
    SCARD_IO_REQUEST pci{protocol_, pciLength_};
    uint8_t received[kReceiveBufferSize];
    DWORD receivedLength = sizeof received;
    PCSC_CALL(failures::transmit, SCardTransmit, static_cast<SCARDHANDLE>(card_), &pci, command,
              static_cast<DWORD>(length), nullptr, received, &receivedLength);
    if (receivedLength > sizeof received) receivedLength = sizeof received;
    return mrtdutils::ResponseAPDU(received, receivedLength);
}

}  // namespace smartcardio
