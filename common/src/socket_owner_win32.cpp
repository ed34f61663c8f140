#include "zelvo/socket_owner.h"

#include "private_security_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <sddl.h>

#include "zelvo/win32.h"

#include <array>
#include <cstring>

namespace zelvo {
namespace {

using boost::asio::ip::address_v4;
using boost::asio::ip::address_v6;

// The table's ports are in network byte order in the low 16 bits.
unsigned short portOf(DWORD port) { return ntohs(static_cast<u_short>(port)); }

template <typename Table>
std::vector<unsigned char> tcpTable(ULONG family) {
    std::vector<unsigned char> buffer;
    DWORD size = 0;
    // The table may grow between the two calls: a few tries.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD rc = GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, family,
                                       TCP_TABLE_OWNER_PID_ALL, 0);
        if (rc == NO_ERROR) return buffer;
        if (rc != ERROR_INSUFFICIENT_BUFFER) break;
        buffer.resize(size);
    }
    return {};
}

std::vector<SocketOwner::TcpRow> rows() {
    std::vector<SocketOwner::TcpRow> result;
    std::vector<unsigned char> v4 = tcpTable<MIB_TCPTABLE_OWNER_PID>(AF_INET);
    if (v4.size() >= sizeof(DWORD)) {
        auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(v4.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID& r = table->table[i];
            result.push_back({{address_v4(ntohl(r.dwLocalAddr)), portOf(r.dwLocalPort)},
                              {address_v4(ntohl(r.dwRemoteAddr)), portOf(r.dwRemotePort)},
                              r.dwOwningPid});
        }
    }
    std::vector<unsigned char> v6 = tcpTable<MIB_TCP6TABLE_OWNER_PID>(AF_INET6);
    if (v6.size() >= sizeof(DWORD)) {
        auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(v6.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID& r = table->table[i];
            address_v6::bytes_type local{}, remote{};
            std::memcpy(local.data(), r.ucLocalAddr, local.size());
            std::memcpy(remote.data(), r.ucRemoteAddr, remote.size());
            result.push_back({{address_v6(local, r.dwLocalScopeId), portOf(r.dwLocalPort)},
                              {address_v6(remote, r.dwRemoteScopeId), portOf(r.dwRemotePort)},
                              r.dwOwningPid});
        }
    }
    return result;
}

// Wine's tables carry no owners (every pid reads 0); it says who it is through
// an export of its ntdll.
bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string sidText(const std::vector<unsigned char>& sid) {
    wchar_t* text = nullptr;
    if (sid.empty() || !ConvertSidToStringSidW(const_cast<unsigned char*>(sid.data()), &text)) return "SID ?";
    win32::LocalMemory release(text);
    std::string out = "SID ";
    for (const wchar_t* c = text; *c; ++c) out.push_back(static_cast<char>(*c));
    return out;
}

}  // namespace

SocketOwner::Result SocketOwner::lookup(const Endpoint& peer, const Endpoint& local) {
    Result result;
    // Wine's table names no owners (every pid reads 0), and may not show a
    // connection made a moment ago: reading it would say nothing.
    static const bool wine = underWine();
    if (wine) {
        result.verdict = Verdict::unchecked;
        return result;
    }
    std::optional<unsigned long> pid = ownerPid(rows(), peer, local);
    // Pid 0 owns no socket on Windows.
    if (!pid || *pid == 0) return result;
    const std::vector<unsigned char> owner = security::processUserSid(*pid);
    const std::vector<unsigned char> own = security::currentUserSid();
    result.owner = owner.empty() ? "pid " + std::to_string(*pid) : sidText(owner);
    // An owner whose user cannot be read is not known to be ours.
    result.verdict = !owner.empty() && owner == own ? Verdict::ownUser : Verdict::otherUser;
    return result;
}

}  // namespace zelvo
