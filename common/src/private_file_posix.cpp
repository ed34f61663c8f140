#include "zelvo/private_file.h"

#include "zelvo/paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {
namespace {

// RAII for a descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports a failed close (a late write error).
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// False with errno set when not every byte could be written.
bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

PrivateRead readPrivateFile(const std::string& path, std::size_t maxBytes, std::string& text) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT) return PrivateRead::missing;
        return errno == ELOOP ? PrivateRead::notRegular : PrivateRead::unreadable;
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0) return PrivateRead::unreadable;
    if (!S_ISREG(info.st_mode) || static_cast<unsigned long long>(info.st_size) > maxBytes)
        return PrivateRead::notRegular;
    // Another user who may write the file could decide in this user's name.
    if (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return PrivateRead::notPrivate;
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return PrivateRead::unreadable;
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maxBytes) return PrivateRead::notRegular;
    }
    text = std::move(bytes);
    return PrivateRead::ok;
}

bool replacePrivateFile(const std::string& path, const std::string& text) {
    const std::string folder = folderOf(path);
    if (!makeDirs(folder, 0700)) return false;
    std::string temporary = folder + ".zelvo.XXXXXX";
    Descriptor file(mkostemp(temporary.data(), O_CLOEXEC));  // mode 0600
    if (file.get() < 0) return false;
    const bool ok = fchmod(file.get(), 0600) == 0 && writeAll(file.get(), text) && fsync(file.get()) == 0 &&
                    file.close() && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

NewFile writeNewPrivateFile(const std::string& path, const std::string& bytes, unsigned long& error) {
    // O_EXCL with O_CREAT fails on any name that exists, a dangling link included.
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        error = static_cast<unsigned long>(errno);
        return errno == EEXIST ? NewFile::exists : NewFile::notCreated;
    }
    int err = writeAll(file.get(), bytes) ? 0 : errno;
    if (!file.close() && err == 0) err = errno;
    if (err == 0) return NewFile::written;
    ::unlink(path.c_str());  // half a file is of no use to anyone
    error = static_cast<unsigned long>(err);
    return NewFile::notWritten;
}

std::FILE* openPrivateAppend(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    std::FILE* file = fd >= 0 ? fdopen(fd, "ab") : nullptr;
    if (!file && fd >= 0) ::close(fd);
    return file;
}

MoveAside moveAside(const std::string& path, const std::string& target) {
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return MoveAside::moved;
    if (errno == ENOENT) return MoveAside::sourceMissing;
    if (errno == EEXIST) return MoveAside::targetExists;
    return MoveAside::failed;
}

}  // namespace zelvo
