#include "smartcardio/PcscCall.h"

#include "base/AppException.h"

namespace smartcardio {
namespace failures {

const PcscFailure establishContext{"smartcardio::CardTerminal::getInstance", "SCardEstablishContext",
                                   "Componente de smartcard no inicializado", {}};
const PcscFailure listReaders{"smartcardio::CardTerminal::readers", "SCardListReaders",
                              "No se obtuvo la lista de lectores de tarjetas inteligentes", {}};
const PcscFailure connect{"smartcardio::CardChannel::getInstance", "SCardConnect", "Conexión no realizada",
                          {{static_cast<LONG>(SCARD_E_NOT_READY), "Lector no disponible"},
                           {static_cast<LONG>(SCARD_W_REMOVED_CARD), "Tarjeta no disponible"},
                           {static_cast<LONG>(SCARD_E_SHARING_VIOLATION), "Tarjeta ocupada por otro proceso"}}};
const PcscFailure transmit{"smartcardio::CardChannel::transmit", "SCardTransmit", "Comando APDU no ejecutado", {}};

}  // namespace failures

void raisePcscFailure(const PcscFailure& failure, LONG code, int line) {
    const char* message = failure.message;
    for (const CodeMessage& m : failure.byCode)
        if (m.code == code) message = m.message;
    raisePlatformException(failure.function, line, failure.condition, message, platform::systemErrorText(code),
                           static_cast<int32_t>(code), CodeFormat::hex);
}

}  // namespace smartcardio
