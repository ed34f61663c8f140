#include "zelvo/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zelvo {

const char kPathSeparator = '/';
const char kExecutableSuffix[] = "";
const char kSearchPathSeparator = ':';
const char kProfileVariable[] = "$HOME";

namespace {

// /usr is read-only by the FHS, even where root could write to it.
bool isSystemDir(const std::string& dir) { return dir == "/usr" || dir.compare(0, 5, "/usr/") == 0; }

}  // namespace

bool isPathSeparator(char c) { return c == '/'; }

std::string programPath() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> configFileCandidates(const std::string& name) { return {name}; }

std::string modulePath(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return "";
    std::string resolved = canonicalPath(info.dli_fname);
    return resolved.empty() ? std::string(info.dli_fname) : resolved;
}

std::string profileDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return "";
}

std::string homeDir() {
    std::string home = profileDir();
    return home.empty() ? std::string("/tmp") : home;
}

std::string tempDir() {
    std::string t;
    if (const char* env = std::getenv("TMPDIR"); env && *env) t = env;
    else t = "/tmp";
    while (t.size() > 1 && t.back() == '/') t.pop_back();
    return t;
}

unsigned long currentProcessId() { return static_cast<unsigned long>(getpid()); }

std::optional<std::string> getEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

bool setEnv(const std::string& name, const std::string& value) { return setenv(name.c_str(), value.c_str(), 1) == 0; }

void unsetEnv(const std::string& name) { unsetenv(name.c_str()); }

FileInfo fileInfo(const std::string& path) {
    FileInfo info;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return info;
    info.exists = true;
    info.directory = S_ISDIR(st.st_mode);
    info.regular = S_ISREG(st.st_mode);
    info.size = static_cast<unsigned long long>(st.st_size);
    return info;
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isExecutable(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool isWritableDir(const std::string& dir) {
    return !dir.empty() && isDirectory(dir) && access(dir.c_str(), W_OK | X_OK) == 0;
}

std::string canonicalPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
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
    return isDirectory(dir);
}

bool removeFile(const std::string& path) { return !path.empty() && ::unlink(path.c_str()) == 0; }

bool isReadableFile(const std::string& path) {
    // Non-blocking, so that a FIFO in the way cannot hold the caller.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

bool ensurePrivateDir(const std::string& dir, unsigned closed) {
    if (dir.empty()) return false;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & closed) == 0;
}

bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out, bool noFollow) {
    // Non-blocking, so that a FIFO in the way cannot hold the caller; the checks
    // are made on the file actually opened.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) <= maxBytes;
    std::string text;
    if (ok) {
        // One byte more than its size shows a file that grew meanwhile: refused too.
        size_t size = static_cast<size_t>(st.st_size);
        text.resize(size + 1);
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::read(fd, &text[done], text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            done += static_cast<size_t>(n);
        }
        ok = ok && done <= size;
        text.resize(done);
    }
    ::close(fd);
    if (ok) out = std::move(text);
    return ok;
}

std::string userStateDirPath(const std::string& sub) {
    std::string base;
    if (const char* env = std::getenv("XDG_STATE_HOME"); env && *env) base = env;
    else base = homeDir() + "/.local/state";
    std::string dir = withSeparator(base) + "zelvo";
    if (!sub.empty()) dir += "/" + sub;
    return dir;
}

std::string userStateDir(const std::string& sub) {
    std::string dir = userStateDirPath(sub);
    if (!makeDirs(dir, 0700)) return "";
    return withSeparator(dir);
}

std::string userConfigDir() {
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    const char* env = std::getenv("XDG_CONFIG_HOME");
    std::string base = env && env[0] == '/' ? std::string(env) : homeDir() + "/.config";
    return withSeparator(withSeparator(base) + "zelvo");
}

std::vector<std::string> privateTempDirs(const std::string& name) {
    std::vector<std::string> dirs;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        dirs.push_back(withSeparator(runtime) + name);
    dirs.push_back(withSeparator(tempDir()) + name + "-" + std::to_string(geteuid()));
    return dirs;
}

std::string writableDirOr(const std::string& preferred, const std::string& sub) {
    if (isWritableDir(preferred) && !isSystemDir(preferred)) return withSeparator(preferred);
    return userStateDir(sub);
}

}  // namespace zelvo
