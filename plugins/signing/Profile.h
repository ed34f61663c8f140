#pragma once
// config.ini, read by the rules of the Windows profile reader: section and key
// names compare case-insensitively; blanks around names and values are trimmed;
// every line stands alone (no continuation lines) and may be of any length; the
// first of two equal keys wins; a value in matching quotes loses them; ";" starts
// a comment only at the beginning of a line. Lines that are neither a section,
// a key nor a comment are passed over.
#include <map>
#include <string>

namespace quillet {

class Profile {
public:
    // The file is read whole only when it is a regular file of at most this size.
    static constexpr size_t kLargestFile = 1 << 20;

    Profile() = default;
    explicit Profile(const std::string& text);
    // The profile of `path`; an empty one (with a warning in the log) when the
    // file exists but cannot be read, and quietly when it does not exist.
    static Profile fromFile(const std::string& path);

    // The value of `key` in `section`, or `fallback` when there is none.
    std::string text(const std::string& section, const std::string& key, const std::string& fallback) const;
    // The value's leading decimal number (0 without digits), or `fallback`.
    int number(const std::string& section, const std::string& key, int fallback) const;

private:
    std::map<std::string, std::string> values_;  // lower-case "section\nkey" -> value
};

// The profile reader's reading of a number: leading blanks and a sign, then
// the leading digits; 0 without any, limited to the 32-bit range.
int profileInt(const std::string& text);

}  // namespace quillet
