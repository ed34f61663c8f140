// where.exe for the tests under Wine, whose own where.exe is a stub that
// prints nothing and ends with 0 (Wine 8.0). It behaves as the system's does
// for what the signing plug-in asks of it: every NAME given is looked for in
// the current folder, then in each folder of PATH, with the extensions of
// PATHEXT when NAME has none; every match is printed as a full path, one a
// line, in UTF-8; exit code 0 when something was found, else 1 with the
// system's message on standard error.
#include "TestProgram.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

using test_program::utf8;
using test_program::write;


std::wstring variable(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return L"";
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, value.data(), n);
    value.resize(n);
    return value;
}

std::vector<std::wstring> split(const std::wstring& text) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring piece = text.substr(start, end - start);
        if (piece.size() >= 2 && piece.front() == L'"' && piece.back() == L'"') piece = piece.substr(1, piece.size() - 2);
        if (!piece.empty()) pieces.push_back(piece);
        start = end + 1;
    }
    return pieces;
}

bool isFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        write(STD_ERROR_HANDLE, "ERROR: Type \"WHERE /?\" for usage.\r\n");
        return 2;
    }
    wchar_t current[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
    std::vector<std::wstring> folders{std::wstring(current, n)};
    for (const std::wstring& folder : split(variable(L"PATH"))) folders.push_back(folder);
    std::wstring pathext = variable(L"PATHEXT");
    std::vector<std::wstring> extensions = split(pathext.empty() ? L".COM;.EXE;.BAT;.CMD" : pathext);

    bool found = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring name = argv[i];
        std::vector<std::wstring> candidates{name};
        if (name.find(L'.') == std::wstring::npos)
            for (const std::wstring& extension : extensions) candidates.push_back(name + extension);
        for (std::wstring folder : folders) {
            if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
            for (const std::wstring& candidate : candidates) {
                wchar_t full[32768];
                DWORD length = GetFullPathNameW((folder + candidate).c_str(), 32768, full, nullptr);
                if (length == 0 || length >= 32768 || !isFile(full)) continue;
                write(STD_OUTPUT_HANDLE, utf8(std::wstring(full, length)) + "\r\n");
                found = true;
            }
        }
    }
    if (!found) write(STD_ERROR_HANDLE, "INFO: Could not find files for the given pattern(s).\r\n");
    return found ? 0 : 1;
}
