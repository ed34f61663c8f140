// A Windows program that uses WinSCard as the card plug-in does (system scope, readers
// listed with SCARD_AUTOALLOCATE, shared connection to the first reader, T=0 or T=1
// protocol control information, a 258-byte answer buffer) and prints what it sees, one
// line per fact, in UTF-8:
//
//   pci T0 <protocol> <length>              the data exports g_rgSCardT0Pci / T1
//   reader <name>                           each listed reader, in order
//   protocol T0|T1                          the active protocol of the connection
//   apdu <command> -> <answer>              upper-case hex
//   sizes <needed> <code> <reported> <same> the listing without SCARD_AUTOALLOCATE
//   canary intact|overwritten               bytes after the answer buffer
//   error <call> 0x<code> <system text>     a failed call (exit code 1)
//   message 0x<code> <system text>          FormatMessageW's text for a code
//
//   pcsc_probe [--recv N] [--sizes] [--no-connect] [APDU-hex...]
//   pcsc_probe --message CODE...
#include <windows.h>
#include <winscard.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <cwchar>

namespace {

constexpr DWORD kAnswerBufferSize = 258;  // 256 data bytes and the status word
constexpr DWORD kMaxAnswerBuffer = 65538;
constexpr size_t kCanarySize = 16;
constexpr unsigned char kCanaryByte = 0xA5;

std::string utf8(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "?";
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], size, nullptr, nullptr);
    return out;
}

void line(const std::string& text) {
    std::string out = text + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

std::string hex(const unsigned char* data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string code(LONG value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(static_cast<DWORD>(value)));
    return text;
}

// The system's text for a code, as the plug-in logs it: the system table, inserts ignored,
// the user's default language, without the trailing line break.
std::string systemText(LONG value) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  nullptr, static_cast<DWORD>(value), LANG_USER_DEFAULT,
                                  reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) return "(sin texto, error " + std::to_string(GetLastError()) + ")";
    while (length > 0 && (buffer[length - 1] == L'\n' || buffer[length - 1] == L'\r')) --length;
    std::string text = utf8(buffer, length);
    LocalFree(buffer);
    return text;
}

struct PcscFailure {
    const char* call;
    LONG result;
};

void check(const char* call, LONG result) {
    if (result != SCARD_S_SUCCESS) throw PcscFailure{call, result};
}

class Context {
public:
    Context() { check("SCardEstablishContext", SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle_)); }
    ~Context() { SCardReleaseContext(handle_); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    SCARDCONTEXT handle() const { return handle_; }

private:
    SCARDCONTEXT handle_ = 0;
};

// The reader multi-string the platform allocated, freed with SCardFreeMemory.
class ReaderList {
public:
    explicit ReaderList(const Context& context) : context_(context.handle()) {
        check("SCardListReadersW",
              SCardListReadersW(context_, nullptr, reinterpret_cast<wchar_t*>(&buffer_), &length_));
    }
    ~ReaderList() {
        if (buffer_ != nullptr) SCardFreeMemory(context_, buffer_);
    }
    ReaderList(const ReaderList&) = delete;
    ReaderList& operator=(const ReaderList&) = delete;

    std::vector<std::wstring> names() const {
        std::vector<std::wstring> out;
        const wchar_t* end = buffer_ + length_;
        for (const wchar_t* p = buffer_; p < end && *p != L'\0';) {
            size_t n = wcsnlen(p, static_cast<size_t>(end - p));
            out.emplace_back(p, n);
            p += n + 1;
        }
        return out;
    }
    std::vector<wchar_t> raw() const { return std::vector<wchar_t>(buffer_, buffer_ + length_); }

private:
    SCARDCONTEXT context_;
    wchar_t* buffer_ = nullptr;
    DWORD length_ = SCARD_AUTOALLOCATE;
};

class Card {
public:
    Card(const Context& context, const std::wstring& reader) {
        check("SCardConnectW", SCardConnectW(context.handle(), reader.c_str(), SCARD_SHARE_SHARED,
                                             SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle_, &protocol_));
    }
    ~Card() { SCardDisconnect(handle_, SCARD_LEAVE_CARD); }
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;
    SCARDHANDLE handle() const { return handle_; }
    DWORD protocol() const { return protocol_; }

private:
    SCARDHANDLE handle_ = 0;
    DWORD protocol_ = 0;
};

// The listing again without SCARD_AUTOALLOCATE: size query, a buffer one short, the exact one.
void checkSizes(const Context& context, const ReaderList& reference) {
    DWORD needed = 0;
    check("SCardListReadersW", SCardListReadersW(context.handle(), nullptr, nullptr, &needed));
    if (needed < 2) {
        line("sizes " + std::to_string(needed) + " - - different");
        return;
    }
    std::vector<wchar_t> buffer(needed + 1, L'#');
    DWORD reported = needed - 1;
    LONG shortResult = SCardListReadersW(context.handle(), nullptr, buffer.data(), &reported);
    bool untouched = buffer[needed - 1] == L'#' && buffer[needed] == L'#';
    DWORD exact = needed;
    check("SCardListReadersW", SCardListReadersW(context.handle(), nullptr, buffer.data(), &exact));
    bool same = exact == needed && buffer[needed] == L'#' &&
                std::vector<wchar_t>(buffer.begin(), buffer.begin() + needed) == reference.raw();
    line("sizes " + std::to_string(needed) + " " + code(shortResult) + " " + std::to_string(reported) + " " +
         (same && untouched ? "same" : "different"));
}

bool parseHex(const char* text, std::vector<unsigned char>& out) {
    size_t length = std::strlen(text);
    if (length == 0 || length % 2 != 0 || length / 2 > 65544) return false;
    out.clear();
    for (size_t i = 0; i < length; i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        char* end = nullptr;
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return false;
        out.push_back(static_cast<unsigned char>(std::strtoul(pair, &end, 16)));
    }
    return true;
}

// Sends one command; the answer buffer is followed by canary bytes that must stay as they were.
bool transmit(const Card& card, const std::vector<unsigned char>& command, DWORD bufferSize) {
    const SCARD_IO_REQUEST* pci = card.protocol() == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    std::vector<unsigned char> answer(bufferSize + kCanarySize, kCanaryByte);
    DWORD length = bufferSize;
    LONG result = SCardTransmit(card.handle(), pci, command.data(), static_cast<DWORD>(command.size()), nullptr,
                                answer.data(), &length);
    bool intact = true;
    for (size_t i = bufferSize; i < answer.size(); ++i) intact = intact && answer[i] == kCanaryByte;
    line(std::string("canary ") + (intact ? "intact" : "overwritten"));
    if (result != SCARD_S_SUCCESS) {
        line("error SCardTransmit " + code(result) + " " + systemText(result) + " needed=" + std::to_string(length));
        return false;
    }
    line("apdu " + hex(command.data(), command.size()) + " -> " +
         hex(answer.data(), length <= bufferSize ? length : bufferSize));
    return intact;
}

int usage() {
    std::fputs("uso: pcsc_probe [--recv N] [--sizes] [--no-connect] [APDU-hex...]\n"
               "     pcsc_probe --message CÓDIGO...\n",
               stderr);
    return 2;
}

int printMessages(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        unsigned long value = std::strtoul(argv[i], &end, 0);
        if (end == argv[i] || *end != '\0' || value > 0xFFFFFFFFul) return usage();
        LONG result = static_cast<LONG>(static_cast<DWORD>(value));
        line("message " + code(result) + " " + systemText(result));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--message") == 0) return printMessages(argc, argv);
    DWORD bufferSize = kAnswerBufferSize;
    bool sizes = false;
    bool connect = true;
    std::vector<std::vector<unsigned char>> commands;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--recv") == 0 && i + 1 < argc) {
            char* end = nullptr;
            unsigned long value = std::strtoul(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || value == 0 || value > kMaxAnswerBuffer) return usage();
            bufferSize = static_cast<DWORD>(value);
        } else if (std::strcmp(argv[i], "--sizes") == 0) {
            sizes = true;
        } else if (std::strcmp(argv[i], "--no-connect") == 0) {
            connect = false;
        } else {
            std::vector<unsigned char> command;
            if (!parseHex(argv[i], command)) {
                std::fprintf(stderr, "APDU no válida (se espera hexadecimal): %s\n", argv[i]);
                return 2;
            }
            commands.push_back(command);
        }
    }

    line("pci T0 " + std::to_string(SCARD_PCI_T0->dwProtocol) + " " + std::to_string(SCARD_PCI_T0->cbPciLength));
    line("pci T1 " + std::to_string(SCARD_PCI_T1->dwProtocol) + " " + std::to_string(SCARD_PCI_T1->cbPciLength));
    try {
        Context context;
        ReaderList readers(context);
        std::vector<std::wstring> names = readers.names();
        for (const std::wstring& name : names) line("reader " + utf8(name.data(), name.size()));
        if (sizes) checkSizes(context, readers);
        if (!connect || names.empty()) return 0;
        Card card(context, names.front());
        if (card.protocol() != SCARD_PROTOCOL_T0 && card.protocol() != SCARD_PROTOCOL_T1) {
            line("error SCardConnectW protocol " + std::to_string(card.protocol()));
            return 1;
        }
        line(card.protocol() == SCARD_PROTOCOL_T0 ? "protocol T0" : "protocol T1");
        for (const std::vector<unsigned char>& command : commands)
            if (!transmit(card, command, bufferSize)) return 1;
        return 0;
    } catch (const PcscFailure& failure) {
        line(std::string("error ") + failure.call + " " + code(failure.result) + " " + systemText(failure.result));
        return 1;
    }
}
