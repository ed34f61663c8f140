#include "zelvo/file_lock.h"

#include "zelvo/paths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zelvo {

FileLock::FileLock(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldByOther_ = errno == EWOULDBLOCK;
        close(fd);
        return;
    }
    fd_ = fd;
}

FileLock::~FileLock() {
    if (fd_ >= 0) close(fd_);
}

std::string serviceLockPath(std::string& refusedDir) {
    refusedDir.clear();
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) return std::string(dir) + "/parlox_service.lock";
    // A name every user could create first in a shared folder would let another
    // user lock this one out: the lock lives in a folder only this user owns.
    std::string dir = tempDir() + "/zelvo-" + std::to_string(geteuid());
    if (!ensurePrivateDir(dir)) {
        refusedDir = dir;
        return "";
    }
    return dir + "/parlox_service.lock";
}

}  // namespace zelvo
