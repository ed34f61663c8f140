#include "zelvo/inherited_handles.h"

namespace zelvo::win32 {

Handle inheritableNullDevice(bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE h = CreateFileW(L"NUL", write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
    // CreateFileW fails with INVALID_HANDLE_VALUE, which a Handle would take for a handle.
    return Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

InheritedHandles::InheritedHandles(HANDLE input, HANDLE output, HANDLE errors) : handles_{input, output, errors} {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
        error_ = GetLastError();
        return;
    }
    initialized_ = true;
    if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_, sizeof handles_, nullptr,
                                   nullptr))
        error_ = GetLastError();
}

InheritedHandles::~InheritedHandles() {
    if (initialized_) DeleteProcThreadAttributeList(list_);
}

}  // namespace zelvo::win32
