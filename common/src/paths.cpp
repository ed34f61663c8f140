#include "zelvo/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zelvo {
namespace {

std::string dirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    return dir;
}

// /usr is read-only by the FHS, even where root could write to it.
bool isSystemDir(const std::string& dir) { return dir == "/usr" || dir.compare(0, 5, "/usr/") == 0; }

}  // namespace

std::string programPath() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

std::string programDir() { return dirOf(programPath()); }

std::string modulePath(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return "";
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}

std::string moduleDir(const void* address) { return dirOf(modulePath(address)); }

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string tempDir() {
    std::string t;
    if (const char* env = std::getenv("TMPDIR"); env && *env) t = env;
    else t = "/tmp";
    while (t.size() > 1 && t.back() == '/') t.pop_back();
    return t;
}

bool isWritableDir(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(dir.c_str(), W_OK | X_OK) == 0;
}

bool makeDirs(const std::string& dir, unsigned mode) {
    if (dir.empty()) return false;
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        path = dir.substr(0, pos);
        if (path.empty()) continue;
        if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ensurePrivateDir(const std::string& dir, unsigned closed) {
    if (dir.empty()) return false;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & closed) == 0;
}

namespace {

// Reads the regular file open on `fd` (at most maxBytes) into `out`; false for
// anything else. The checks are made on the file actually opened.
bool readOpenedFile(int fd, const struct stat& st, size_t maxBytes, std::string& out) {
    if (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > maxBytes) return false;
    // One byte more than its size shows a file that grew meanwhile: refused too.
    size_t size = static_cast<size_t>(st.st_size);
    std::string text(size + 1, '\0');
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::read(fd, &text[done], text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    if (done > size) return false;
    text.resize(done);
    out = std::move(text);
    return true;
}

// RAII for a descriptor opened here.
struct OpenFile {
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd;
};

}  // namespace

bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out) {
    // Non-blocking, so that a FIFO in the way cannot hold the caller.
    OpenFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    return file.fd >= 0 && fstat(file.fd, &st) == 0 && readOpenedFile(file.fd, st, maxBytes, out);
}

OwnFile readOwnFile(const std::string& path, size_t maxBytes, std::string& out) {
    // Neither a FIFO nor a link put in the file's place is followed or waited on.
    OpenFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    if (file.fd < 0) {
        if (errno == ENOENT) return OwnFile::missing;
        return errno == ELOOP ? OwnFile::notRegular : OwnFile::unreadable;
    }
    struct stat st {};
    if (fstat(file.fd, &st) != 0) return OwnFile::unreadable;
    if (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > maxBytes) return OwnFile::notRegular;
    if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return OwnFile::notPrivate;
    return readOpenedFile(file.fd, st, maxBytes, out) ? OwnFile::read : OwnFile::unreadable;
}

std::string userStateDir(const std::string& sub) {
    std::string base;
    if (const char* env = std::getenv("XDG_STATE_HOME"); env && *env) base = env;
    else base = homeDir() + "/.local/state";
    std::string dir = withSlash(base) + "zelvo";
    if (!sub.empty()) dir += "/" + sub;
    if (!makeDirs(dir, 0700)) return "";
    return withSlash(dir);
}

std::string writableDirOr(const std::string& preferred, const std::string& sub) {
    if (isWritableDir(preferred) && !isSystemDir(preferred)) return withSlash(preferred);
    return userStateDir(sub);
}

void appendToPath(const std::string& dir) {
    const char* path = std::getenv("PATH");
    if (!path) return;
    std::string value = std::string(path) + ":" + dir;
    setenv("PATH", value.c_str(), 1);
}

}  // namespace zelvo
