#include "zelvo/private_file.h"

#include "private_security_win32.h"
#include "zelvo/paths.h"
#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>

namespace zelvo {

using win32::FileHandle;

PrivateRead readPrivateFile(const std::string& path, std::size_t maxBytes, std::string& text) {
    std::optional<std::wstring> wide = toUtf16(path);
    if (!wide || wide->empty()) return PrivateRead::unreadable;
    // A link is opened as itself (and refused below), never followed.
    FileHandle file(CreateFileW(wide->c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD why = GetLastError();
        if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) return PrivateRead::missing;
        // A folder cannot be opened as a file at all.
        const DWORD attributes = GetFileAttributesW(wide->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return PrivateRead::notRegular;
        return PrivateRead::unreadable;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return PrivateRead::notRegular;
    if (!GetFileInformationByHandle(file.get(), &info)) return PrivateRead::unreadable;
    const unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 || size > maxBytes)
        return PrivateRead::notRegular;
    if (!security::isPrivateToUser(file.get())) return PrivateRead::notPrivate;
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!ReadFile(file.get(), &bytes[done], chunk, &got, nullptr)) return PrivateRead::unreadable;
        if (got == 0) break;
        done += got;
    }
    if (done > size) return PrivateRead::notRegular;  // it grew meanwhile
    bytes.resize(done);
    text = std::move(bytes);
    return PrivateRead::ok;
}

bool replacePrivateFile(const std::string& path, const std::string& text) {
    std::string folder = folderOf(path);
    while (folder.size() > 3 && isPathSeparator(folder.back())) folder.pop_back();
    if (!ensurePrivateDir(folder)) return false;
    const std::string temporary = withSeparator(folder) + ".zelvo-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount64()) + ".tmp";
    std::optional<std::wstring> wideTemporary = toUtf16(temporary), widePath = toUtf16(path);
    if (!wideTemporary || !widePath) return false;
    bool ok;
    {
        // The folder's own entries (this user, the system, the administrators) are inherited.
        FileHandle file(CreateFileW(wideTemporary->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        ok = text.size() <= 0x7fffffff &&
             WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
             written == text.size() && FlushFileBuffers(file.get());
    }
    ok = ok && MoveFileExW(wideTemporary->c_str(), widePath->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(wideTemporary->c_str());
    return ok;
}

NewFile writeNewPrivateFile(const std::string& path, const std::string& bytes, unsigned long& error) {
    std::optional<std::wstring> wide = toUtf16(path);
    if (!wide || wide->empty()) {
        error = ERROR_INVALID_NAME;
        return NewFile::notCreated;
    }
    security::PrivateDescriptor descriptor(false);
    if (!descriptor.get()) {
        error = GetLastError();
        return NewFile::notCreated;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    bool written;
    {
        // CREATE_NEW fails on any name that exists, a link included: nothing is opened through it.
        FileHandle file(CreateFileW(wide->c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) {
            error = GetLastError();
            return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::exists : NewFile::notCreated;
        }
        std::size_t done = 0;
        error = 0;
        written = true;
        while (written && done < bytes.size()) {
            DWORD put = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!WriteFile(file.get(), bytes.data() + done, chunk, &put, nullptr)) error = GetLastError();
            else if (put == 0) error = ERROR_DISK_FULL;
            written = put > 0 && error == 0;
            done += put;
        }
    }
    if (written) return NewFile::written;
    DeleteFileW(wide->c_str());  // half a file is of no use to anyone
    return NewFile::notWritten;
}

std::FILE* openPrivateAppend(const std::string& path) {
    std::optional<std::wstring> wide = toUtf16(path);
    if (!wide || wide->empty()) return nullptr;
    security::PrivateDescriptor descriptor(false);
    // Without a descriptor an existing file still opens; a new one is not made.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    // Appending only: every write lands at the end, whoever else writes there.
    FileHandle file(CreateFileW(wide->c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &attributes,
                                descriptor.get() ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd < 0) return nullptr;
    file.release();  // the descriptor owns it now
    std::FILE* stream = _fdopen(fd, "ab");
    if (!stream) _close(fd);
    return stream;
}

MoveAside moveAside(const std::string& path, const std::string& target) {
    std::optional<std::wstring> from = toUtf16(path), to = toUtf16(target);
    if (!from || !to) return MoveAside::failed;
    // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced.
    if (MoveFileExW(from->c_str(), to->c_str(), MOVEFILE_WRITE_THROUGH)) return MoveAside::moved;
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return MoveAside::sourceMissing;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return MoveAside::targetExists;
        default:
            return MoveAside::failed;
    }
}

}  // namespace zelvo
