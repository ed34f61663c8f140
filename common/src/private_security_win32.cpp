#include "private_security_win32.h"

#include "zelvo/win32.h"

#include <aclapi.h>
#include <sddl.h>

namespace zelvo::security {
namespace {

using win32::Handle;
using win32::LocalMemory;

std::vector<unsigned char> tokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token, kind, buffer.data(), size, &size)) return {};
    PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    if (!sid || !IsValidSid(sid)) return {};
    const unsigned char* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

std::vector<unsigned char> ownTokenSid(TOKEN_INFORMATION_CLASS kind) {
    Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) return {};
    return tokenSid(token.get(), kind);
}

bool sameSid(PSID sid, const std::vector<unsigned char>& other) {
    return sid && !other.empty() && IsValidSid(sid) && EqualSid(sid, const_cast<unsigned char*>(other.data()));
}

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return sid && IsWellKnownSid(sid, type); }

// Rights that let a holder change the folder or file, or what lies in it.
constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool isPrivate(PSID owner, PACL dacl) {
    const std::vector<unsigned char> user = ownTokenSid(TokenUser);
    const std::vector<unsigned char> defaultOwner = ownTokenSid(TokenOwner);
    if (!sameSid(owner, user) && !sameSid(owner, defaultOwner)) return false;
    // No DACL at all grants everyone everything.
    if (!dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        // An entry only for what is created inside later does not apply here.
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChanging) == 0) continue;
        PSID sid = &allowed->SidStart;
        if (sameSid(sid, user) || sameSid(sid, defaultOwner) || isWellKnown(sid, WinLocalSystemSid) ||
            isWellKnown(sid, WinBuiltinAdministratorsSid) || isWellKnown(sid, WinCreatorOwnerSid))
            continue;
        return false;
    }
    return true;
}

}  // namespace

std::vector<unsigned char> currentUserSid() { return ownTokenSid(TokenUser); }

std::vector<unsigned char> processUserSid(DWORD pid) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    Handle token;
    if (!OpenProcessToken(process.get(), TOKEN_QUERY, token.out())) return {};
    return tokenSid(token.get(), TokenUser);
}

PrivateDescriptor::PrivateDescriptor(bool container) {
    std::vector<unsigned char> user = currentUserSid();
    if (user.empty()) return;
    wchar_t* userText = nullptr;
    if (!ConvertSidToStringSidW(user.data(), &userText)) return;
    LocalMemory freeUserText(userText);
    // Protected (P): nothing inherited from the parent; OICI: the entries apply
    // to the folder and to everything created in it.
    const std::wstring flags = container ? L"OICI" : L"";
    const std::wstring sddl = L"O:" + std::wstring(userText) + L"D:P(A;" + flags + L";FA;;;" + userText + L")(A;" +
                              flags + L";FA;;;SY)(A;" + flags + L";FA;;;BA)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr))
        descriptor_ = nullptr;
}

PrivateDescriptor::~PrivateDescriptor() { LocalFree(descriptor_); }

bool createPrivateDirectory(const std::wstring& path) {
    PrivateDescriptor descriptor(true);
    if (!descriptor.get()) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != 0;
}

bool isPrivateToUser(const std::wstring& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    LocalMemory freeDescriptor(descriptor);
    return isPrivate(owner, dacl);
}

bool isPrivateToUser(HANDLE file) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    LocalMemory freeDescriptor(descriptor);
    return isPrivate(owner, dacl);
}

}  // namespace zelvo::security
