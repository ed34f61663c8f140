// libFuzzer: any command-line argument (an argument holds no NUL) through the
// request rules, its Base64 payload and JsonReader, read as every request kind
// reads it. The log goes to /dev/null so that every warning is formatted too.
#include "core/JsonReader.h"
#include "core/RequestArgument.h"
#include "zelvo/log.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool logging = (zelvo::log::init("/dev/null", 6, false), true);
    (void)logging;
    std::string argument(reinterpret_cast<const char*>(data), size);
    argument = argument.substr(0, argument.find('\0'));
    for (const char* verb : {"run/", "set/", "test/", "check/"}) {
        if (!RequestArgument::matches(argument, verb)) continue;
        auto reader = JsonReader::getInstance(RequestArgument::decodedPayload(argument, verb));
        if (!reader) continue;
        std::string text;
        int number = 0;
        bool on = false;
        std::vector<std::string> list;
        reader->read("type", text);
        reader->read("ssl", "certpath", text);
        reader->read("port", number);
        reader->read("use_ssl", on);
        reader->readArchive(list);
        reader->readVmOptions(list);
        reader->readLogLevel(number);
        reader->readSslEnabled(on);
        reader->serialize();
    }
    return 0;
}
