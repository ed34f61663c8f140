#pragma once
// One server per user: the first server run holds the lock until it ends, and
// the system drops it if the process dies.
//   Linux:   an exclusive flock on parlox_service.lock in $XDG_RUNTIME_DIR, else in
//            the user's own folder <temporary folder>/zelvo-<uid> (ensurePrivateDir)
//   Windows: the named mutex "parlox_service" of the user's session
#include <memory>
#include <string>

namespace zelvo {

class InstanceLock {
public:
    enum class Outcome { acquired, heldByOther, failed };

    // Tries to take the lock. With `failed`, `error` holds the user's text.
    static std::unique_ptr<InstanceLock> acquire(Outcome& outcome, std::string& error);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    struct Impl;

private:
    explicit InstanceLock(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zelvo
