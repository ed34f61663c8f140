// A scripted Windows program for the end-to-end tests: it takes the place of the
// dialog program (ZELVO_DIALOG), of a browser or of a signer's helper. Beside
// its own file NAME.exe it keeps
//   NAME.calls    one JSON line per start: {"args": [...], "pid": N, "handles": H, "sockets": S}
//                 (H: the handles it was started with beyond the three standard
//                 ones; S: how many of those are sockets), and one when it answers:
//                 {"pid": N, "answered": SECONDS-SINCE-1970}
//   NAME.answers  lines "KIND<TAB>EXIT<TAB>OUTPUT-IN-HEX<TAB>DELAY-MS" chosen by its
//                 first argument; a negative delay never answers. Without a line: exit 0.
#include <winsock2.h>
#include <windows.h>

#include "zelvo/json_quote.h"
#include "zelvo/utf16.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Every handle value the process holds apart from its standard streams, and how
// many of them are sockets.
void inventory(int& handles, int& sockets) {
    handles = sockets = 0;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                          GetStdHandle(STD_ERROR_HANDLE)};
    for (uintptr_t value = 4; value < 16384; value += 4) {
        HANDLE h = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!GetHandleInformation(h, &flags)) continue;
        if (h == standard[0] || h == standard[1] || h == standard[2]) continue;
        if ((flags & HANDLE_FLAG_INHERIT) == 0) continue;  // our own, not inherited
        ++handles;
        int type = 0, size = sizeof type;
        if (getsockopt(static_cast<SOCKET>(value), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0)
            ++sockets;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring base(self, n);
    base = base.substr(0, base.rfind(L'.'));

    int handles = 0, sockets = 0;
    inventory(handles, sockets);
    std::string line = "{\"args\": [";
    for (int i = 1; i < argc; ++i) line += (i > 1 ? ", " : "") + zelvo::jsonQuoted(zelvo::toUtf8Lossy(argv[i]));
    line += "], \"pid\": " + std::to_string(GetCurrentProcessId()) + ", \"handles\": " + std::to_string(handles) +
            ", \"sockets\": " + std::to_string(sockets) + "}\n";
    {
        std::ofstream calls(std::filesystem::path(base + L".calls"), std::ios::app | std::ios::binary);
        calls << line;
    }

    const std::string kind = argc > 1 ? zelvo::toUtf8Lossy(argv[1]) : "";
    std::ifstream answers(std::filesystem::path(base + L".answers"), std::ios::binary);
    std::string entry;
    while (std::getline(answers, entry)) {
        std::istringstream fields(entry);
        std::string name, code, hex, delay;
        std::getline(fields, name, '\t');
        std::getline(fields, code, '\t');
        std::getline(fields, hex, '\t');
        std::getline(fields, delay, '\t');
        if (name != kind) continue;
        const long wait = delay.empty() ? 0 : std::stol(delay);
        if (wait < 0) {
            for (;;) Sleep(INFINITE);
        }
        Sleep(static_cast<DWORD>(wait));
        {
            FILETIME now;
            GetSystemTimePreciseAsFileTime(&now);
            const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
            const double seconds = (ticks - 116444736000000000ULL) / 1e7;  // 100 ns since 1601 -> seconds since 1970
            char answered[96];
            std::snprintf(answered, sizeof answered, "{\"pid\": %lu, \"answered\": %.3f}\n", GetCurrentProcessId(),
                          seconds);
            std::ofstream calls(std::filesystem::path(base + L".calls"), std::ios::app | std::ios::binary);
            calls << answered;
        }
        const std::string output = fromHex(hex);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()), &written, nullptr);
        return std::stoi(code.empty() ? "0" : code);
    }
    return 0;
}
