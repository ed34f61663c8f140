// Prints its arguments as the C runtime split them, one per line in UTF-8, each
// between brackets, and exits with the number of arguments: a child whose words
// show whether its command line was built by the splitting rules. With the one
// argument "--handles" it prints instead how many inheritable handles it holds
// beyond its three standard ones.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    std::string out;
    if (argc == 2 && std::wstring(argv[1]) == L"--handles") {
        HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                              GetStdHandle(STD_ERROR_HANDLE)};
        int count = 0;
        for (uintptr_t value = 4; value < 16384; value += 4) {
            HANDLE h = reinterpret_cast<HANDLE>(value);
            DWORD flags = 0;
            if (!GetHandleInformation(h, &flags) || (flags & HANDLE_FLAG_INHERIT) == 0) continue;
            if (h != standard[0] && h != standard[1] && h != standard[2]) ++count;
        }
        out = "handles " + std::to_string(count) + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string word(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, word.data(), n, nullptr, nullptr);
        out += "[" + word + "]\n";
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    return argc - 1;
}
