#include "installer_session.h"

#include "zelvo/utf16.h"

#include <vector>

namespace {

// A record handle, closed when it goes.
class Record {
public:
    explicit Record(unsigned fields) : handle_(MsiCreateRecord(fields)) {}
    ~Record() {
        if (handle_) MsiCloseHandle(handle_);
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    MSIHANDLE get() const { return handle_; }

private:
    MSIHANDLE handle_;
};

}  // namespace

std::optional<std::string> InstallerSession::property(const std::string& name) const {
    const std::optional<std::wstring> wideName = zelvo::toUtf16(name);
    if (!wideName) return std::nullopt;
    DWORD length = 0;
    wchar_t empty[1] = {L'\0'};
    UINT result = MsiGetPropertyW(install_, wideName->c_str(), empty, &length);
    if (result == ERROR_SUCCESS) return std::string();
    if (result != ERROR_MORE_DATA) return std::nullopt;
    // The length leaves out the terminator.
    std::vector<wchar_t> value(static_cast<size_t>(length) + 1);
    length = static_cast<DWORD>(value.size());
    if (MsiGetPropertyW(install_, wideName->c_str(), value.data(), &length) != ERROR_SUCCESS) return std::nullopt;
    return zelvo::toUtf8(std::wstring(value.data(), length));
}

bool InstallerSession::setProperty(const std::string& name, const std::string& value) const {
    const std::optional<std::wstring> wideName = zelvo::toUtf16(name);
    const std::optional<std::wstring> wideValue = zelvo::toUtf16(value);
    return wideName && wideValue && MsiSetPropertyW(install_, wideName->c_str(), wideValue->c_str()) == ERROR_SUCCESS;
}

void InstallerSession::message(INSTALLMESSAGE kind, const std::string& text) const {
    Record record(0);
    const std::wstring wide = zelvo::toUtf16(text).value_or(L"?");
    if (!record.get() || MsiRecordSetStringW(record.get(), 0, wide.c_str()) != ERROR_SUCCESS) return;
    MsiProcessMessage(install_, kind, record.get());
}

void InstallerSession::log(const std::string& text) const { message(INSTALLMESSAGE_INFO, "Zelvo: " + text); }

void InstallerSession::error(const std::string& text) const {
    message(static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
}
