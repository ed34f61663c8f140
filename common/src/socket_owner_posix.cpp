#include "zelvo/socket_owner.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace zelvo {
namespace {

using Address = boost::asio::ip::address;

// The tables print each 32-bit word of an address as the number it is in
// memory, in hexadecimal, and the port as a 16-bit number.
std::string tableText(const unsigned char* bytes, std::size_t size, unsigned short port) {
    std::string text;
    char word[9];
    for (std::size_t i = 0; i < size; i += 4) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes + i, 4);
        std::snprintf(word, sizeof word, "%08X", value);
        text += word;
    }
    char tail[6];
    std::snprintf(tail, sizeof tail, ":%04X", port);
    return text + tail;
}

std::string tableText(const Address& address, unsigned short port) {
    if (address.is_v4()) {
        auto bytes = address.to_v4().to_bytes();
        return tableText(bytes.data(), bytes.size(), port);
    }
    auto bytes = address.to_v6().to_bytes();
    return tableText(bytes.data(), bytes.size(), port);
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::optional<unsigned> findIn(std::istream& table, const std::string& peer, const std::string& local) {
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, own, remote, state, queues, timer, retransmits, uid;
        if (!(fields >> slot >> own >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
        if (upper(own) != peer || upper(remote) != local) continue;
        try {
            std::size_t used = 0;
            unsigned long value = std::stoul(uid, &used);
            if (used == uid.size() && value <= 0xffffffffUL) return static_cast<unsigned>(value);
        } catch (const std::exception&) {
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<unsigned> findInFile(const char* path, const Address& peer, unsigned short peerPort,
                                   const Address& local, unsigned short localPort) {
    std::ifstream table(path);
    if (!table) return std::nullopt;
    return findIn(table, tableText(peer, peerPort), tableText(local, localPort));
}

}  // namespace

std::optional<unsigned> SocketOwner::find(std::istream& table, const Endpoint& peer, const Endpoint& local) {
    return findIn(table, tableText(peer.address(), peer.port()), tableText(local.address(), local.port()));
}

static std::optional<unsigned> lookupUid(const SocketOwner::Endpoint& peer, const SocketOwner::Endpoint& local) {
    const Address p = peer.address();
    const Address l = local.address();
    if (p.is_v4() && l.is_v4()) return findInFile("/proc/net/tcp", p, peer.port(), l, local.port());
    if (!p.is_v6() || !l.is_v6()) return std::nullopt;
    if (auto owner = findInFile("/proc/net/tcp6", p, peer.port(), l, local.port())) return owner;
    // A listener on "::" also takes IPv4 connections, whose client is an IPv4 socket.
    const auto p6 = p.to_v6();
    const auto l6 = l.to_v6();
    if (p6.is_v4_mapped() && l6.is_v4_mapped()) {
        using boost::asio::ip::make_address_v4;
        using boost::asio::ip::v4_mapped;
        return findInFile("/proc/net/tcp", make_address_v4(v4_mapped, p6), peer.port(), make_address_v4(v4_mapped, l6),
                          local.port());
    }
    return std::nullopt;
}

SocketOwner::Result SocketOwner::lookup(const Endpoint& peer, const Endpoint& local) {
    Result result;
    std::optional<unsigned> uid = lookupUid(peer, local);
    if (!uid) return result;
    result.verdict = *uid == geteuid() ? Verdict::ownUser : Verdict::otherUser;
    result.owner = "uid " + std::to_string(*uid);
    return result;
}

}  // namespace zelvo
