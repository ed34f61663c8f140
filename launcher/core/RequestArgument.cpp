#include "core/RequestArgument.h"

#include "zelvo/base64.h"

namespace RequestArgument {

namespace {
const std::string kSeparator = "://";
}

bool matches(const std::string& argument, const std::string& verb) {
    size_t sep = argument.find(kSeparator);
    if (sep == std::string::npos || sep == 0) return false;
    return argument.compare(sep + kSeparator.size(), verb.size(), verb) == 0;
}

std::string payload(const std::string& argument, const std::string& verb) {
    size_t sep = argument.find(kSeparator);
    if (sep == std::string::npos) return "";
    std::string rest = argument.substr(sep + kSeparator.size());
    if (rest.compare(0, verb.size(), verb) == 0) rest.erase(0, verb.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    return rest;
}

std::string decodedPayload(const std::string& argument, const std::string& verb) {
    return zelvo::base64Decode(payload(argument, verb));
}

}  // namespace RequestArgument
