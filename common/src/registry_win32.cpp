#include "zelvo/registry.h"

#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>

#include <vector>

namespace zelvo {
namespace {

// Key names are at most 255 characters.
constexpr DWORD kKeyNameChars = 256;

// Key paths are taken without a leading hive and without trailing separators,
// as the Linux registry files do.
std::optional<std::wstring> keyPathOf(std::string key) {
    for (const char* hive : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
        const size_t n = std::char_traits<char>::length(hive);
        if (key.size() >= n && CompareStringOrdinal(toUtf16(key.substr(0, n)).value_or(L"").c_str(), -1,
                                                    toUtf16(hive).value_or(L"").c_str(), -1, TRUE) == CSTR_EQUAL) {
            key.erase(0, n);
            break;
        }
    }
    while (!key.empty() && key.back() == '\\') key.pop_back();
    while (!key.empty() && key.front() == '\\') key.erase(key.begin());
    return toUtf16(key);
}

// The access flag that names the other view, or 0 when this system has none
// (a 32-bit program on 32-bit Windows, where the flag would be ignored).
REGSAM otherView() {
    if (sizeof(void*) == 8) return KEY_WOW64_32KEY;
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
}

bool openKey(const std::string& keyPath, win32::Key& key, RegistryView view = RegistryView::own) {
    REGSAM access = KEY_READ;
    if (view == RegistryView::other) {
        const REGSAM other = otherView();
        if (other == 0) return false;
        access |= other;
    }
    std::optional<std::wstring> path = keyPathOf(keyPath);
    return path && RegOpenKeyExW(HKEY_LOCAL_MACHINE, path->c_str(), 0, access, key.out()) == ERROR_SUCCESS;
}

}  // namespace

bool readRegistryString(const std::string& keyPath, const std::string& valueName, std::string& value,
                        RegistryView view, size_t maxBytes) {
    win32::Key key;
    if (!openKey(keyPath, key, view)) return false;
    std::optional<std::wstring> name = toUtf16(valueName == "@" ? std::string() : valueName);
    if (!name || maxBytes < sizeof(wchar_t) || maxBytes > MAXDWORD) return false;
    // Data that does not fit, terminator included, fails with ERROR_MORE_DATA.
    std::vector<wchar_t> data(maxBytes / sizeof(wchar_t), L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), name->c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // The text ends at the first NUL or where the data ends, terminated or not.
    const size_t chars = size / sizeof(wchar_t);
    size_t length = 0;
    while (length < chars && data[length] != L'\0') ++length;
    std::optional<std::string> text = toUtf8(std::wstring(data.data(), length));
    if (!text) return false;
    value = std::move(*text);
    return true;
}

std::optional<std::string> registryKeyName(const std::string& keyPath) {
    win32::Key key;
    if (!openKey(keyPath, key)) return std::nullopt;
    std::optional<std::wstring> path = keyPathOf(keyPath);
    if (!path || path->empty()) return std::nullopt;
    // The key opened whatever the case of the name asked for: its own spelling is
    // the one its parent lists.
    const size_t cut = path->rfind(L'\\');
    const std::wstring wanted = cut == std::wstring::npos ? *path : path->substr(cut + 1);
    std::optional<std::string> parent =
        cut == std::wstring::npos ? std::string() : toUtf8(path->substr(0, cut));
    if (!parent) return std::nullopt;
    for (const std::string& name : listRegistrySubkeys(*parent)) {
        std::optional<std::wstring> wide = toUtf16(name);
        if (wide && CompareStringOrdinal(wide->c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL) return name;
    }
    return toUtf8(wanted);
}

std::vector<std::string> listRegistrySubkeys(const std::string& keyPath) {
    std::vector<std::string> names;
    win32::Key key;
    if (!openKey(keyPath, key)) return names;
    DWORD count = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0; i < count; ++i) {
        wchar_t name[kKeyNameChars];
        DWORD length = kKeyNameChars;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        if (std::optional<std::string> text = toUtf8(std::wstring(name, length))) names.push_back(std::move(*text));
    }
    return names;
}

}  // namespace zelvo
