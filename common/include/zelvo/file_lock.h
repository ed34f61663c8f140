#pragma once
#include <string>

namespace zelvo {

// An exclusive flock held for the object's life; the kernel releases it if the
// process dies.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // False when another process holds the lock (or the file cannot be opened).
    bool acquired() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The one-server-per-user lock file: $XDG_RUNTIME_DIR/parlox_service.lock, else
// /tmp/parlox_service-<uid>.lock.
std::string serviceLockPath();

}  // namespace zelvo
