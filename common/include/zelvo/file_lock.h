#pragma once
#include <string>

namespace zelvo {

// An exclusive flock held for the object's life; the kernel releases it if the
// process dies. The file is opened without following a symbolic link.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // False when another process holds the lock or the file cannot be opened.
    bool acquired() const { return fd_ >= 0; }
    // True when the lock could not be taken because another process holds it.
    bool heldByOther() const { return heldByOther_; }

private:
    int fd_ = -1;
    bool heldByOther_ = false;
};

// The one-server-per-user lock file: $XDG_RUNTIME_DIR/parlox_service.lock, else
// parlox_service.lock in the user's own folder <temporary folder>/zelvo-<uid>
// (see ensurePrivateDir). Empty, with `refusedDir` set, when that folder is not
// the user's own.
std::string serviceLockPath(std::string& refusedDir);

}  // namespace zelvo
