// Test helper: connects to the first reader in exclusive mode, prints "held",
// and keeps the card until its standard input closes. Exit 1 when it cannot.
#include <winscard.h>

#include <cstdio>
#include <vector>

int main() {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return 1;
    DWORD length = 0;
    if (SCardListReaders(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS) return 1;
    std::vector<char> names(length + 1);
    if (SCardListReaders(context, nullptr, names.data(), &length) != SCARD_S_SUCCESS) return 1;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    LONG rv = SCardConnect(context, names.data(), SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                           &protocol);
    if (rv != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "SCardConnect: %s\n", pcsc_stringify_error(rv));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return 0;
}
