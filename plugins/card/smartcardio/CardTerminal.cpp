#include "smartcardio/CardTerminal.h"

#include "base/AppException.h"
#include "smartcardio/PcscCall.h"
#include "smartcardio/ReaderSettings.h"
#include "zelvo/log.h"

namespace smartcardio {

static_assert(sizeof(SCARDCONTEXT) <= sizeof(std::uintptr_t), "the context is held as an integer");

ReaderSettings& readerSettings() {
    static ReaderSettings settings;
    return settings;
}

std::unique_ptr<CardTerminal> CardTerminal::getInstance() {
    LOG_INFO("smartcardio::CardTerminal::getInstance") << "Creando instancia de cardterminal";
    SCARDCONTEXT context = 0;
    PCSC_CALL(failures::establishContext, SCardEstablishContext, readerSettings().scope, nullptr, nullptr,
              &context);
    return std::unique_ptr<CardTerminal>(new CardTerminal(static_cast<std::uintptr_t>(context)));
}

CardTerminal::~CardTerminal() {
    if (context_ != 0) SCardReleaseContext(static_cast<SCARDCONTEXT>(context_));
}

std::vector<std::string> CardTerminal::readers() const {
    LOG_INFO("smartcardio::CardTerminal::readers") << "Obteniendo lista de lectores disponibles";
    std::string multiString;
    PCSC_CALL(failures::listReaders, platform::listReaders, static_cast<SCARDCONTEXT>(context_), &multiString);
    std::vector<std::string> names = parseReadersList(multiString.data(), multiString.size());
    // A listing that succeeds without a name leaves nothing to connect to: the
    // same failure as no readers at all.
    if (names.empty()) raisePcscFailure(failures::listReaders, SCARD_E_NO_READERS_AVAILABLE, __LINE__);
    return names;
}

std::vector<std::string> CardTerminal::parseReadersList(const char* multiString, size_t length) {
    std::vector<std::string> names;
    if (multiString == nullptr) return names;
    size_t pos = 0;
    while (pos < length && multiString[pos] != '\0') {
        size_t end = pos;
        while (end < length && multiString[end] != '\0') ++end;
        std::string name(multiString + pos, end - pos);
        LOG_INFO("smartcardio::CardTerminal::parseReadersList") << "Lector disponible " << name;
        names.push_back(std::move(name));
        pos = end + 1;
    }
    return names;
}

}  // namespace smartcardio
