/* Test-only WinSCard for Windows programs under Wine: the calls the card plug-in makes,
 * carried to Linux's pcsc-lite (libpcsclite.so.1, loaded at the first call) so that they
 * reach the private pcscd named by PCSCLITE_CSOCK_NAME. Built with winegcc as a Winelib
 * DLL; the PE winscard.dll beside the program only forwards to it.
 *
 * The two sides disagree on sizes: here DWORD and LONG are 32 bits and SCARDCONTEXT /
 * SCARDHANDLE pointer-sized; pcsc-lite on Linux x86-64 uses unsigned long / long (64 bits)
 * for all of them, and its SCARD_IO_REQUEST holds two of those. Result codes have the
 * same values on both sides. Reader names are UTF-16 here and UTF-8 there. */

#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>

#include <windef.h>
#include <winbase.h>
#include <winnls.h>
#include <winscard.h>

#include "wine/debug.h"

WINE_DEFAULT_DEBUG_CHANNEL(pcscbridge);

/* pcsc-lite's own types on Linux x86-64. */
typedef long px_long;
typedef unsigned long px_dword;
typedef struct {
    px_dword dwProtocol;
    px_dword cbPciLength;
} px_io_request;

#define PX_AUTOALLOCATE ((px_dword)-1)
#define PX_PROTOCOL_RAW 0x0004

_Static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4, "Windows' DWORD and LONG are 32 bits");
_Static_assert(sizeof(SCARDCONTEXT) == sizeof(px_long) && sizeof(SCARDHANDLE) == sizeof(px_long),
               "handles fit both sides unchanged");
_Static_assert(sizeof(SCARD_IO_REQUEST) == 8, "Windows' protocol control information");

/* Reader names longer than this (pcsc-lite allows 128 bytes) are refused before conversion;
 * a list longer than this is not a list pcscd makes. */
#define MAX_READER_NAME 4096
#define MAX_READER_LIST (1024 * 1024)

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};

static struct {
    void *library;
    px_long (*establish_context)(px_dword, const void *, const void *, px_long *);
    px_long (*release_context)(px_long);
    px_long (*list_readers)(px_long, const char *, char *, px_dword *);
    px_long (*free_memory)(px_long, const void *);
    px_long (*connect)(px_long, const char *, px_dword, px_dword, px_long *, px_dword *);
    px_long (*disconnect)(px_long, px_dword);
    px_long (*transmit)(px_long, const px_io_request *, const unsigned char *, px_dword, px_io_request *,
                        unsigned char *, px_dword *);
} px;

static pthread_once_t px_once = PTHREAD_ONCE_INIT;

static void *px_symbol(const char *name)
{
    void *symbol = dlsym(px.library, name);
    if (!symbol) WINE_ERR("libpcsclite.so.1 has no %s\n", name);
    return symbol;
}

static void px_load(void)
{
    void *library = dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        WINE_ERR("cannot load libpcsclite.so.1: %s\n", dlerror());
        return;
    }
    px.library = library;
    if (!(px.establish_context = px_symbol("SCardEstablishContext")) ||
        !(px.release_context = px_symbol("SCardReleaseContext")) ||
        !(px.list_readers = px_symbol("SCardListReaders")) ||
        !(px.free_memory = px_symbol("SCardFreeMemory")) ||
        !(px.connect = px_symbol("SCardConnect")) ||
        !(px.disconnect = px_symbol("SCardDisconnect")) ||
        !(px.transmit = px_symbol("SCardTransmit"))) {
        memset(&px, 0, sizeof px);
        dlclose(library);
    }
}

/* True once every pcsc-lite entry point is at hand; otherwise the caller answers
 * SCARD_E_NO_SERVICE, as Windows does when its smart-card service is missing. */
static BOOL px_ready(void)
{
    pthread_once(&px_once, px_load);
    return px.library != NULL;
}

/* pcsc-lite's codes are the Windows values held in a 64-bit long. */
static LONG from_px_result(px_long rv)
{
    return (LONG)(uint32_t)rv;
}

static px_dword to_px_protocols(DWORD protocols)
{
    px_dword out = protocols & ~(DWORD)SCARD_PROTOCOL_RAW;
    if (protocols & SCARD_PROTOCOL_RAW) out |= PX_PROTOCOL_RAW;
    return out;
}

static DWORD from_px_protocols(px_dword protocols)
{
    DWORD out = (DWORD)(protocols & ~(px_dword)PX_PROTOCOL_RAW);
    if (protocols & PX_PROTOCOL_RAW) out |= SCARD_PROTOCOL_RAW;
    return out;
}

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID reserved1, LPCVOID reserved2, LPSCARDCONTEXT context)
{
    px_long handle = 0;
    LONG rv;

    (void)reserved1;
    (void)reserved2;
    if (!context) return SCARD_E_INVALID_PARAMETER;
    if (!px_ready()) return SCARD_E_NO_SERVICE;
    rv = from_px_result(px.establish_context(scope, NULL, NULL, &handle));
    if (rv == SCARD_S_SUCCESS) *context = (SCARDCONTEXT)handle;
    WINE_TRACE("scope %lu -> 0x%08lx, context %#lx\n", (unsigned long)scope, (unsigned long)(DWORD)rv,
          rv == SCARD_S_SUCCESS ? (unsigned long)*context : 0ul);
    return rv;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context)
{
    if (!px_ready()) return SCARD_E_NO_SERVICE;
    return from_px_result(px.release_context((px_long)context));
}

/* Converts pcsc-lite's UTF-8 multi-string (`size` bytes, ending in its empty string) to
 * UTF-16. Returns the number of WCHARs (0 when the list is malformed); writes them to
 * `out` only when `out` is not NULL and `capacity` holds them all. */
static int readers_to_utf16(const char *list, px_dword size, WCHAR *out, int capacity)
{
    int count;

    if (size < 2 || size > MAX_READER_LIST || list[size - 1] != '\0' || list[size - 2] != '\0') return 0;
    count = MultiByteToWideChar(CP_UTF8, 0, list, (int)size, NULL, 0);
    if (count < 2 || !out) return count;
    if (count > capacity) return count;
    return MultiByteToWideChar(CP_UTF8, 0, list, (int)size, out, capacity);
}

LONG WINAPI SCardListReadersW(SCARDCONTEXT context, LPCWSTR groups, LPWSTR readers, LPDWORD length)
{
    char *list = NULL;
    px_dword size = PX_AUTOALLOCATE;
    LONG rv;
    int count;

    if (!length) return SCARD_E_INVALID_PARAMETER;
    if (*length == SCARD_AUTOALLOCATE && !readers) return SCARD_E_INVALID_PARAMETER;
    if (!px_ready()) return SCARD_E_NO_SERVICE;
    /* pcsc-lite ignores reader groups: every reader is in the one group it knows. */
    (void)groups;
    rv = from_px_result(px.list_readers((px_long)context, NULL, (char *)&list, &size));
    WINE_TRACE("context %#lx -> 0x%08lx, %lu bytes\n", (unsigned long)context, (unsigned long)(DWORD)rv,
          rv == SCARD_S_SUCCESS ? size : 0);
    if (rv != SCARD_S_SUCCESS) return rv;

    count = readers_to_utf16(list, size, NULL, 0);
    if (count < 2) {
        rv = SCARD_F_INTERNAL_ERROR;
    } else if (*length == SCARD_AUTOALLOCATE) {
        WCHAR *copy = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)count * sizeof(WCHAR));
        if (!copy) {
            rv = SCARD_E_NO_MEMORY;
        } else {
            readers_to_utf16(list, size, copy, count);
            *(WCHAR **)readers = copy;
            *length = (DWORD)count;
        }
    } else if (!readers) {
        *length = (DWORD)count;
    } else if ((DWORD)count > *length) {
        *length = (DWORD)count;
        rv = SCARD_E_INSUFFICIENT_BUFFER;
    } else {
        readers_to_utf16(list, size, readers, count);
        *length = (DWORD)count;
    }
    px.free_memory((px_long)context, list);
    return rv;
}

/* Memory handed out by SCardListReadersW with SCARD_AUTOALLOCATE. */
LONG WINAPI SCardFreeMemory(SCARDCONTEXT context, LPCVOID memory)
{
    (void)context;
    if (memory) HeapFree(GetProcessHeap(), 0, (void *)memory);
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardConnectW(SCARDCONTEXT context, LPCWSTR reader, DWORD share_mode, DWORD preferred, LPSCARDHANDLE card,
                          LPDWORD active)
{
    char *name;
    int size;
    px_long handle = 0;
    px_dword protocol = 0;
    LONG rv;

    if (!reader || !card || !active) return SCARD_E_INVALID_PARAMETER;
    if (!px_ready()) return SCARD_E_NO_SERVICE;
    size = WideCharToMultiByte(CP_UTF8, 0, reader, -1, NULL, 0, NULL, NULL);
    if (size <= 0 || size > MAX_READER_NAME) return SCARD_E_UNKNOWN_READER;
    if (!(name = HeapAlloc(GetProcessHeap(), 0, size))) return SCARD_E_NO_MEMORY;
    WideCharToMultiByte(CP_UTF8, 0, reader, -1, name, size, NULL, NULL);
    rv = from_px_result(px.connect((px_long)context, name, share_mode, to_px_protocols(preferred), &handle, &protocol));
    WINE_TRACE("reader %s -> 0x%08lx, protocol %lu\n", wine_dbgstr_a(name), (unsigned long)(DWORD)rv, protocol);
    HeapFree(GetProcessHeap(), 0, name);
    if (rv == SCARD_S_SUCCESS) {
        *card = (SCARDHANDLE)handle;
        *active = from_px_protocols(protocol);
    }
    return rv;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition)
{
    if (!px_ready()) return SCARD_E_NO_SERVICE;
    return from_px_result(px.disconnect((px_long)card, disposition));
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST send_pci, LPCBYTE send, DWORD send_length,
                          LPSCARD_IO_REQUEST recv_pci, LPBYTE recv, LPDWORD recv_length)
{
    px_io_request px_send, px_recv;
    px_dword length;
    LONG rv;

    /* Windows has no SCARD_AUTOALLOCATE for answers: taken at its word it would be a
     * 4 GiB buffer. */
    if (!send_pci || !send || !recv || !recv_length || *recv_length == SCARD_AUTOALLOCATE)
        return SCARD_E_INVALID_PARAMETER;
    if (!px_ready()) return SCARD_E_NO_SERVICE;
    px_send.dwProtocol = to_px_protocols(send_pci->dwProtocol);
    px_send.cbPciLength = sizeof px_send;
    if (recv_pci) {
        px_recv.dwProtocol = to_px_protocols(recv_pci->dwProtocol);
        px_recv.cbPciLength = sizeof px_recv;
    }
    /* pcsc-lite copies an answer only when it fits in `length` bytes, else answers
     * SCARD_E_INSUFFICIENT_BUFFER with the size needed. */
    length = *recv_length;
    rv = from_px_result(px.transmit((px_long)card, &px_send, send, send_length, recv_pci ? &px_recv : NULL, recv,
                                    &length));
    WINE_TRACE("%lu bytes sent -> 0x%08lx, %lu bytes\n", (unsigned long)send_length, (unsigned long)(DWORD)rv, length);
    if (rv == SCARD_S_SUCCESS && length > *recv_length) {
        WINE_ERR("pcsc-lite reports %lu bytes for a buffer of %lu\n", length, (unsigned long)*recv_length);
        return SCARD_F_INTERNAL_ERROR;
    }
    if (rv == SCARD_S_SUCCESS || rv == SCARD_E_INSUFFICIENT_BUFFER)
        *recv_length = length > 0xFFFFFFFFul ? 0xFFFFFFFFul : (DWORD)length;
    if (rv == SCARD_S_SUCCESS && recv_pci) recv_pci->dwProtocol = from_px_protocols(px_recv.dwProtocol);
    return rv;
}
