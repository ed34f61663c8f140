#include "zelvo/java_runtime.h"

#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>

#include <climits>
#include <cstdio>

namespace zelvo {

const char kJvmLibrary[] = "jvm.dll";
const char kClientJvm[] = "client\\jvm.dll";
const char kServerJvm[] = "server\\jvm.dll";

namespace {

// `size` bytes at `offset`, all of them or nothing.
bool readAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &got, nullptr) &&
           got == size;
}

// The Machine field of the PE file at `path`, or 0 when it is no PE file (or
// not a file on a disk: a pipe or device would make the read wait).
WORD fileMachine(const std::string& path) {
    std::optional<std::wstring> wide = toUtf16(path);
    if (!wide || wide->empty()) return 0;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    win32::FileHandle file(
        CreateFileW(wide->c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return 0;
    IMAGE_DOS_HEADER dos{};
    if (!readAt(file.get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return 0;
    // "PE\0\0", then the file header, which starts with Machine.
    unsigned char nt[6] = {};
    if (!readAt(file.get(), dos.e_lfanew, nt, sizeof nt) || nt[0] != 'P' || nt[1] != 'E' || nt[2] || nt[3]) return 0;
    return static_cast<WORD>(nt[4] | nt[5] << 8);
}

// The machine the running program was built for, from its own header in memory.
WORD ownMachine() {
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew)->FileHeader.Machine;
}

std::string machineName(WORD machine) {
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386: return "de 32 bits (x86)";
    case IMAGE_FILE_MACHINE_AMD64: return "de 64 bits (x64)";
    case IMAGE_FILE_MACHINE_ARM64: return "de 64 bits (ARM64)";
    case IMAGE_FILE_MACHINE_ARMNT: return "de 32 bits (ARM)";
    case IMAGE_FILE_MACHINE_IA64: return "de 64 bits (Itanium)";
    }
    char text[48];
    std::snprintf(text, sizeof text, "para otra arquitectura (0x%04X)", static_cast<unsigned>(machine));
    return text;
}

}  // namespace

std::vector<std::string> javaRegistryKeys() {
    return {"SOFTWARE\\JavaSoft\\Java Runtime Environment", "SOFTWARE\\JavaSoft\\JRE", "SOFTWARE\\JavaSoft\\JDK"};
}

std::vector<std::string> jvmFallbacks() { return {}; }

LibraryMachine libraryMachine(const std::string& path) {
    const WORD machine = fileMachine(path);
    if (machine == 0) return LibraryMachine{};
    if (machine == ownMachine()) return LibraryMachine{LibraryMachine::same, machineName(machine)};
    return LibraryMachine{LibraryMachine::other, machineName(machine)};
}

std::string processMachine() { return machineName(ownMachine()); }

bool jvmOptionText(const std::string& utf8, std::string& out) {
    std::optional<std::wstring> wide = toUtf16(utf8);
    if (!wide || wide->size() > INT_MAX) return false;
    if (GetACP() == CP_UTF8) {  // Windows' "UTF-8 for worldwide languages" setting
        out = utf8;
        return true;
    }
    const int size = static_cast<int>(wide->size());
    BOOL lossy = FALSE;
    // No best fit: a character the code page lacks must not become a look-alike
    // (another file name in a class path).
    int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide->data(), size, nullptr, 0, nullptr, &lossy);
    if (size > 0 && needed <= 0) return false;
    std::string text(static_cast<size_t>(needed), '\0');
    if (size > 0 && (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide->data(), size, text.data(), needed,
                                         nullptr, &lossy) != needed ||
                     lossy))
        return false;
    out = std::move(text);
    return true;
}

}  // namespace zelvo
