#include "zelvo/instance_lock.h"

#include "zelvo/paths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zelvo {

struct InstanceLock::Impl {
    int fd = -1;
};

InstanceLock::InstanceLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

InstanceLock::~InstanceLock() {
    if (impl_->fd >= 0) close(impl_->fd);
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(Outcome& outcome, std::string& error) {
    outcome = Outcome::failed;
    std::string path;
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) {
        path = std::string(dir) + "/parlox_service.lock";
    } else {
        // A name every user could create first in a shared folder would let another
        // user lock this one out: the lock lives in a folder only this user owns.
        std::string own = tempDir() + "/zelvo-" + std::to_string(geteuid());
        if (!ensurePrivateDir(own)) {
            error = "No se puede comprobar si la aplicación ya se está ejecutando: la carpeta " + own +
                    " no es una carpeta propia del usuario.";
            return nullptr;
        }
        path = own + "/parlox_service.lock";
    }
    // Opened without following a link another user might have put there.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "No se puede crear el archivo de bloqueo de la aplicación " + path + ".";
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        if (busy) {
            outcome = Outcome::heldByOther;
        } else {
            error = "No se puede crear el archivo de bloqueo de la aplicación " + path + ".";
        }
        return nullptr;
    }
    outcome = Outcome::acquired;
    auto impl = std::make_unique<Impl>();
    impl->fd = fd;
    return std::unique_ptr<InstanceLock>(new InstanceLock(std::move(impl)));
}

}  // namespace zelvo
