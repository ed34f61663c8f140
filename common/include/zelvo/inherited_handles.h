#pragma once
// Windows only: what starting a child with nothing of ours but its three standard
// streams takes; shared by ChildProcess and the signing plug-in's signer.
#include "zelvo/win32.h"

#include <vector>

namespace zelvo::win32 {

// The null device, inheritable, for a stream the child gets nothing on; none
// (GetLastError says why) when it cannot be opened.
Handle inheritableNullDevice(bool write);

// The creation attribute that hands a child exactly these three handles, whatever
// else is inheritable (PROC_THREAD_ATTRIBUTE_HANDLE_LIST). Lives until the child
// is created.
class InheritedHandles {
public:
    InheritedHandles(HANDLE input, HANDLE output, HANDLE errors);
    ~InheritedHandles();
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    // Null when the list could not be made; error() is the system's code then.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return error_ == 0 ? list_ : nullptr; }
    DWORD error() const { return error_; }

private:
    HANDLE handles_[3];  // the list points here
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool initialized_ = false;
    DWORD error_ = 0;
};

}  // namespace zelvo::win32
