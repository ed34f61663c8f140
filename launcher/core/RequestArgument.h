#pragma once
// The request argument: scheme "://" verb payload, e.g. zelvo://run/eyJ0eXBlIjoid2luZG93cyJ9/
// The scheme is not checked and nothing is URL-unescaped.
#include <string>

namespace RequestArgument {

// True when "://" occurs at a position other than the first and `verb` (with its
// slash, e.g. "run/") follows its first occurrence immediately.
bool matches(const std::string& argument, const std::string& verb);
// The text after "://" and the verb, less one trailing "/"; empty without "://".
std::string payload(const std::string& argument, const std::string& verb);
// The payload, Base64-decoded (decoding stops at the first "=" or foreign character).
std::string decodedPayload(const std::string& argument, const std::string& verb);

}  // namespace RequestArgument
