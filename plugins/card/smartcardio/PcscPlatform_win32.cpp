#include "smartcardio/PcscPlatform.h"

#include <optional>

#include "zelvo/system_error.h"
#include "zelvo/utf16.h"

namespace smartcardio::platform {

LONG listReaders(SCARDCONTEXT context, std::string* multiString) {
    std::wstring names;
    const LONG rv = listAutoAllocated<wchar_t>(SCardListReadersW, context, &names);
    // A name that is not valid UTF-16 keeps its place in the list, with U+FFFD
    // where it cannot be converted; connecting to it then finds no such reader.
    if (rv == SCARD_S_SUCCESS) *multiString = zelvo::toUtf8Lossy(names);
    return rv;
}

LONG connect(SCARDCONTEXT context, const std::string* reader, DWORD shareMode, DWORD protocols, SCARDHANDLE* card,
             DWORD* activeProtocol) {
    const std::optional<std::wstring> name = zelvo::toUtf16(*reader);
    if (!name) return static_cast<LONG>(SCARD_E_UNKNOWN_READER);
    return SCardConnectW(context, name->c_str(), shareMode, protocols, card, activeProtocol);
}

// FormatMessageW from the system table in the user's language. Some systems
// (Wine among them) have no words for the smart-card codes: then "" and the
// code alone says what happened.
std::string systemErrorText(LONG code) { return zelvo::systemErrorText(static_cast<DWORD>(code)); }

}  // namespace smartcardio::platform
