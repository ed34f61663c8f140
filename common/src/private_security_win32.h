#pragma once
// Windows only, private to common: what "the user's own" means with Windows'
// means (the owner and the DACL), for folders and files that hold the user's
// logs and decisions.
#include <windows.h>

#include <string>
#include <vector>

namespace zelvo::security {

// The SID of this process's user, as bytes (empty when it cannot be read).
std::vector<unsigned char> currentUserSid();
// The SID of the user that runs process `pid` (empty when it cannot be read).
std::vector<unsigned char> processUserSid(DWORD pid);
// A security descriptor owned by this user whose DACL admits only this user,
// the system and the administrators, nothing inherited from the parent; for a
// folder (`container`) the entries also apply to what is created inside.
class PrivateDescriptor {
public:
    explicit PrivateDescriptor(bool container);
    ~PrivateDescriptor();
    PrivateDescriptor(const PrivateDescriptor&) = delete;
    PrivateDescriptor& operator=(const PrivateDescriptor&) = delete;
    // Null when it could not be built (GetLastError tells why).
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};
// Creates `path` as a folder with the private descriptor.
bool createPrivateDirectory(const std::wstring& path);
// True when `path` belongs to this user (or to the owner its token gives new
// objects) and nobody but this user, the system and the administrators may
// change it or add to it.
bool isPrivateToUser(const std::wstring& path);
// The same for an open file.
bool isPrivateToUser(HANDLE file);

}  // namespace zelvo::security
