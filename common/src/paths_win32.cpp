#include "zelvo/paths.h"

#include "private_security_win32.h"
#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace zelvo {

const char kPathSeparator = '\\';
const char kExecutableSuffix[] = ".exe";
const char kSearchPathSeparator = ';';
const char kProfileVariable[] = "%USERPROFILE%";

namespace {

using win32::FileHandle;

// A path whose UTF-8 cannot be converted names no file: every call on it fails.
bool widePath(const std::string& path, std::wstring& out) {
    std::optional<std::wstring> w = toUtf16(path);
    if (!w || w->empty()) return false;
    out = std::move(*w);
    return true;
}

DWORD attributesOf(const std::string& path) {
    std::wstring w;
    return widePath(path, w) ? GetFileAttributesW(w.c_str()) : INVALID_FILE_ATTRIBUTES;
}

// GetModuleFileNameW with a buffer that grows until the name fits.
std::string moduleFileName(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return "";
        if (n < buffer.size()) return toUtf8(std::wstring(buffer.data(), n)).value_or(std::string());
        if (buffer.size() >= 32768) return "";
        buffer.resize(buffer.size() * 2);
    }
}

std::string knownFolder(REFKNOWNFOLDERID id, const char* fallbackVariable) {
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path)
        result = toUtf8(path).value_or(std::string());
    CoTaskMemFree(path);
    if (result.empty()) result = getEnv(fallbackVariable).value_or(std::string());
    return result;
}

// Strips the "\\?\" prefix GetFinalPathNameByHandleW puts before a local path.
std::wstring withoutLongPrefix(std::wstring path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

}  // namespace

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string programPath() { return moduleFileName(nullptr); }

std::vector<std::string> configFileCandidates(const std::string& name) { return {name, programDir() + name}; }

std::string modulePath(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return "";
    return moduleFileName(module);
}

std::string homeDir() {
    std::string home = knownFolder(FOLDERID_Profile, "USERPROFILE");
    return home.empty() ? tempDir() : home;
}

std::string profileDir() { return getEnv("USERPROFILE").value_or(std::string()); }

std::string tempDir() {
    wchar_t buffer[MAX_PATH + 2];
    DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    std::string t = n > 0 && n <= MAX_PATH + 1 ? toUtf8(std::wstring(buffer, n)).value_or(std::string()) : "";
    if (t.empty()) t = "C:\\Windows\\Temp";
    while (t.size() > 3 && isPathSeparator(t.back())) t.pop_back();
    return t;
}

unsigned long currentProcessId() { return GetCurrentProcessId(); }

std::optional<std::string> getEnv(const std::string& name) {
    std::wstring wname;
    if (!widePath(name, wname)) return std::nullopt;
    DWORD needed = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::vector<wchar_t> buffer(needed);
    DWORD n = GetEnvironmentVariableW(wname.c_str(), buffer.data(), needed);
    if (n >= needed) return std::string();
    return toUtf8Lossy(std::wstring(buffer.data(), n));
}

bool setEnv(const std::string& name, const std::string& value) {
    std::optional<std::wstring> wname = toUtf16(name), wvalue = toUtf16(value);
    if (!wname || !wvalue) return false;
    // _wputenv_s keeps the C runtime's copy and the process block (which the
    // loader and child processes read) the same.
    return _wputenv_s(wname->c_str(), wvalue->c_str()) == 0;
}

void unsetEnv(const std::string& name) {
    if (std::optional<std::wstring> wname = toUtf16(name)) _wputenv_s(wname->c_str(), L"");
}

FileInfo fileInfo(const std::string& path) {
    FileInfo info;
    std::wstring w;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!widePath(path, w) || !GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &data)) return info;
    info.exists = true;
    info.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.directory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return info;
}

bool fileExists(const std::string& path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const std::string& path) {
    DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isExecutable(const std::string& path) {
    DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isWritableDir(const std::string& dir) {
    if (!isDirectory(dir)) return false;
    // The only sure answer on Windows (ACLs, read-only media) is to try.
    std::wstring probe;
    if (!widePath(withSeparator(dir) + ".zelvo-escritura-" + std::to_string(GetCurrentProcessId()), probe)) return false;
    FileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(file);
}

std::string canonicalPath(const std::string& path) {
    std::wstring w;
    if (!widePath(path, w)) return "";
    FileHandle file(CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return "";
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return "";
        if (n < buffer.size()) return toUtf8(withoutLongPrefix(std::wstring(buffer.data(), n))).value_or(std::string());
        if (n > 32768) return "";
        buffer.resize(n + 1);
    }
}

bool makeDirs(const std::string& dir, unsigned) {
    if (dir.empty()) return false;
    // Every prefix that ends before a separator, from the root down; the drive
    // ("C:") and the root itself simply fail to be created.
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && !isPathSeparator(dir[i])) continue;
        std::wstring part;
        if (!widePath(dir.substr(0, i), part)) return false;
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            !isDirectory(dir.substr(0, i)) && i == dir.size())
            return false;
    }
    return isDirectory(dir);
}

bool removeFile(const std::string& path) {
    std::wstring w;
    return widePath(path, w) && DeleteFileW(w.c_str()) != 0;
}

bool isReadableFile(const std::string& path) {
    std::wstring w;
    if (!widePath(path, w)) return false;
    // A pipe or device answers to another type: only a file on a disk counts.
    FileHandle file(CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return file && GetFileType(file.get()) == FILE_TYPE_DISK && GetFileInformationByHandle(file.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ensurePrivateDir(const std::string& dir, unsigned) {
    std::wstring w;
    if (!widePath(dir, w)) return false;
    if (GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Created closed to everyone but this user, the system and the administrators.
        if (!security::createPrivateDirectory(w) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    const DWORD a = GetFileAttributesW(w.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0 || (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    return security::isPrivateToUser(w);
}

bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out, bool noFollow) {
    std::wstring w;
    if (!widePath(path, w)) return false;
    // Opening never waits: a pipe server that is busy fails at once, and the
    // type is checked on the handle actually opened.
    FileHandle file(CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    const unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > maxBytes) return false;
    // One byte more than its size shows a file that grew meanwhile: refused too.
    std::string text(static_cast<size_t>(size) + 1, '\0');
    size_t done = 0;
    while (done < text.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        DWORD got = 0;
        if (!ReadFile(file.get(), &text[done], chunk, &got, nullptr)) return false;
        if (got == 0) break;
        done += got;
    }
    if (done > size) return false;
    text.resize(done);
    out = std::move(text);
    return true;
}

std::string userStateDirPath(const std::string& sub) {
    std::string base = knownFolder(FOLDERID_LocalAppData, "LOCALAPPDATA");
    if (base.empty()) base = "%LOCALAPPDATA%";
    return withSeparator(base) + "Zelvo" + (sub.empty() ? "" : "\\" + sub);
}

std::string userStateDir(const std::string& sub) {
    std::string base = knownFolder(FOLDERID_LocalAppData, "LOCALAPPDATA");
    if (base.empty()) return "";
    std::string dir = withSeparator(base) + "Zelvo";
    if (!ensurePrivateDir(dir)) return "";
    if (!sub.empty()) {
        dir += "\\" + sub;
        if (!ensurePrivateDir(dir)) return "";
    }
    return withSeparator(dir);
}

std::string userConfigDir() {
    std::string base = knownFolder(FOLDERID_RoamingAppData, "APPDATA");
    if (base.empty()) base = homeDir();
    return withSeparator(withSeparator(base) + "Zelvo");
}

std::vector<std::string> privateTempDirs(const std::string& name) {
    // The temporary folder is already the user's own on Windows (in the profile).
    return {withSeparator(tempDir()) + name};
}

std::string writableDirOr(const std::string&, const std::string& sub) { return userStateDir(sub); }

}  // namespace zelvo
