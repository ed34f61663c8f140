#include "zelvo/log_escape.h"

namespace zelvo {
namespace {

bool inRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// Length of the well-formed UTF-8 sequence of two or more bytes at `i`, or 0
// (an overlong form, a surrogate, a value past U+10FFFF, a cut sequence).
std::size_t sequenceLength(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0; };
    const unsigned char c = at(0);
    const auto cont = [&](std::size_t k) { return inRange(at(k), 0x80, 0xBF); };
    if (inRange(c, 0xC2, 0xDF)) return cont(1) ? 2 : 0;
    if (c == 0xE0) return inRange(at(1), 0xA0, 0xBF) && cont(2) ? 3 : 0;
    if (inRange(c, 0xE1, 0xEC) || inRange(c, 0xEE, 0xEF)) return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xED) return inRange(at(1), 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (c == 0xF0) return inRange(at(1), 0x90, 0xBF) && cont(2) && cont(3) ? 4 : 0;
    if (inRange(c, 0xF1, 0xF3)) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4) return inRange(at(1), 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

// Well-formed, yet a line break or a control to some viewers: the C1 controls
// (U+0080..U+009F) and the line and paragraph separators (U+2028, U+2029).
bool breaksLines(std::string_view s, std::size_t i, std::size_t length) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (length == 2) return at(0) == 0xC2 && at(1) <= 0x9F;
    return length == 3 && at(0) == 0xE2 && at(1) == 0x80 && (at(2) == 0xA8 || at(2) == 0xA9);
}

void appendHex(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0x0F];
}

bool plain(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }

}  // namespace

std::string escapeForLog(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && plain(static_cast<unsigned char>(text[i]))) ++i;
    std::string out(text.substr(0, i));
    if (i == text.size()) return out;
    out.reserve(text.size() + 16);
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (plain(c)) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        switch (c) {
            case '\\': out += "\\\\"; ++i; continue;
            case '\n': out += "\\n"; ++i; continue;
            case '\r': out += "\\r"; ++i; continue;
            case '\t': out += "\\t"; ++i; continue;
            default: break;
        }
        const std::size_t length = c >= 0x80 ? sequenceLength(text, i) : 0;
        if (length == 0 || breaksLines(text, i, length)) {
            // One byte at a time: after a bad byte the next one may start a good character.
            const std::size_t escaped = length == 0 ? 1 : length;
            for (std::size_t k = 0; k < escaped; ++k) appendHex(out, static_cast<unsigned char>(text[i + k]));
            i += escaped;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace zelvo
