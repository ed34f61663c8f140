// child_probe.exe: a Windows child for the child-process tests. The first word
// after the program says what it does:
//   words                  prints every word of its command line, as
//                          CommandLineToArgvW splits it ("C <hex>") and as the C
//                          runtime splits it ("R <hex>"), one a line, in UTF-8 hex
//   cat                    copies its standard input to its standard output
//   exit N                 ends with exit code N
//   cwd                    prints its current folder
//   inherited H PATH       "yes" when handle H is open in it and names PATH, else "no"
//   spawn-then-exit FILE   starts a copy of itself that never ends, inheriting
//   spawn-then-hang FILE   its handles, writes that copy's id to FILE (then to
//                          FILE's name + ".ok"), then ends or never ends
//   hang                   never ends
#include "TestProgram.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

using test_program::utf8;

void put(const std::string& text) { test_program::write(STD_OUTPUT_HANDLE, text); }

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void writeWhole(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

int spawn(const std::wstring& pidFile, bool hang) {
    DWORD grandchild = test_program::startCopy(L"hang");
    if (grandchild == 0) return 2;
    writeWhole(pidFile, std::to_string(grandchild));
    // The id is whole once the second file is there.
    writeWhole(pidFile + L".ok", "");
    if (hang) Sleep(INFINITE);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"words") {
        int count = 0;
        wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
        for (int i = 0; i < count; ++i) put("C " + hex(utf8(words[i])) + "\n");
        LocalFree(words);
        for (int i = 0; i < argc; ++i) put("R " + hex(utf8(argv[i])) + "\n");
        return 0;
    }
    if (mode == L"cat") {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) && n > 0)
            put(std::string(buffer, n));
        return 0;
    }
    if (mode == L"exit" && argc > 2) return _wtoi(argv[2]);
    if (mode == L"cwd") {
        wchar_t folder[MAX_PATH];
        DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
        put(utf8(std::wstring(folder, n)));
        return 0;
    }
    if (mode == L"inherited" && argc > 3) {
        HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(_wcstoui64(argv[2], nullptr, 10)));
        DWORD flags = 0;
        wchar_t name[MAX_PATH] = L"";
        bool open = GetHandleInformation(handle, &flags) && GetFinalPathNameByHandleW(handle, name, MAX_PATH, 0) > 0;
        std::wstring path = argv[3];
        std::wstring found = name;
        bool same = open && found.size() >= path.size() &&
                    _wcsicmp(found.c_str() + found.size() - path.size(), path.c_str()) == 0;
        put(same ? "yes" : "no");
        return 0;
    }
    if ((mode == L"spawn-then-exit" || mode == L"spawn-then-hang") && argc > 2)
        return spawn(argv[2], mode == L"spawn-then-hang");
    if (mode == L"hang") Sleep(INFINITE);
    return 100;
}
