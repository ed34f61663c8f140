#include "smartcardio/PcscPlatform.h"

namespace smartcardio::platform {

LONG listReaders(SCARDCONTEXT context, std::string* multiString) {
    return listAutoAllocated<char>(SCardListReaders, context, multiString);
}

LONG connect(SCARDCONTEXT context, const std::string* reader, DWORD shareMode, DWORD protocols, SCARDHANDLE* card,
             DWORD* activeProtocol) {
    return SCardConnect(context, reader->c_str(), shareMode, protocols, card, activeProtocol);
}

std::string systemErrorText(LONG code) { return code == SCARD_S_SUCCESS ? "" : pcsc_stringify_error(code); }

}  // namespace smartcardio::platform
