#pragma once
// Private to smartcardio: the calls where pcsc-lite and the Windows WinSCard
// differ, each system's in its own file (PcscPlatform_posix.cpp,
// PcscPlatform_win32.cpp). Reader names are UTF-8 everywhere else; only
// Windows' wide calls see them in UTF-16.
#include <winscard.h>

#include <string>

namespace smartcardio::platform {

// SCardListReaders (Windows: SCardListReadersW) with a buffer the platform
// allocates and this call gives back: the readers' multi-string in UTF-8, each
// name ended by NUL, an empty name last.
LONG listReaders(SCARDCONTEXT context, std::string* multiString);
// SCardConnect (Windows: SCardConnectW) to the reader named in UTF-8.
LONG connect(SCARDCONTEXT context, const std::string* reader, DWORD shareMode, DWORD protocols, SCARDHANDLE* card,
             DWORD* activeProtocol);
// The system's words for a result code, without a line break; "" for success
// and for a code the system has no words for.
std::string systemErrorText(LONG code);

// The list call of either system (narrow or wide) with SCARD_AUTOALLOCATE: the
// names as the platform gave them, its buffer freed whatever happens next.
template <typename Char, typename List>
LONG listAutoAllocated(List list, SCARDCONTEXT context, std::basic_string<Char>* names) {
    Char* buffer = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG rv = list(context, nullptr, reinterpret_cast<Char*>(&buffer), &length);
    if (rv != SCARD_S_SUCCESS || buffer == nullptr) return rv;
    struct Freed {
        SCARDCONTEXT context;
        Char* buffer;
        ~Freed() { SCardFreeMemory(context, buffer); }
    } freed{context, buffer};
    // The length counts characters, the final NUL included.
    names->assign(buffer, length);
    return rv;
}

}  // namespace smartcardio::platform
