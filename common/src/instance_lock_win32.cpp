#include "zelvo/instance_lock.h"

#include "zelvo/system_error.h"
#include "zelvo/win32.h"

#include <windows.h>

namespace zelvo {

struct InstanceLock::Impl {
    win32::Handle mutex;
};

InstanceLock::InstanceLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

InstanceLock::~InstanceLock() = default;

std::unique_ptr<InstanceLock> InstanceLock::acquire(Outcome& outcome, std::string& error) {
    // No "Global\" prefix: one server per logon session, as the name is meant.
    win32::Handle mutex(CreateMutexW(nullptr, FALSE, L"parlox_service"));
    const DWORD why = GetLastError();
    if (!mutex) {
        // Another user's object of that name (in a shared session namespace) is not ours to open.
        outcome = why == ERROR_ACCESS_DENIED ? Outcome::heldByOther : Outcome::failed;
        error = "No se puede crear el objeto de bloqueo de la aplicación: " + systemErrorText(why);
        return nullptr;
    }
    if (why == ERROR_ALREADY_EXISTS) {
        outcome = Outcome::heldByOther;
        return nullptr;
    }
    outcome = Outcome::acquired;
    auto impl = std::make_unique<Impl>();
    impl->mutex = std::move(mutex);
    return std::unique_ptr<InstanceLock>(new InstanceLock(std::move(impl)));
}

}  // namespace zelvo
