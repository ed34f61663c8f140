#pragma once
// A card's answer split into data and status word.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Bytes.h"

namespace mrtdutils {

class ResponseAPDU {
public:
    // Fewer than two bytes give an invalid, empty response.
    ResponseAPDU() = default;
    ResponseAPDU(const uint8_t* answer, size_t count);
    explicit ResponseAPDU(const Bytes& answer) : ResponseAPDU(answer.data(), answer.size()) {}

    bool isValid() const { return valid_; }
    const Bytes& getBytes() const { return bytes_; }
    const Bytes& getData() const { return data_; }
    uint16_t getSW() const { return sw_; }
    uint8_t getSW1() const { return sw1_; }
    uint8_t getSW2() const { return sw2_; }

private:
    bool valid_ = false;
    Bytes bytes_;
    uint16_t sw_ = 0;
    uint8_t sw1_ = 0;
    uint8_t sw2_ = 0;
    Bytes data_;
};

// Returns when the status word is 9000; otherwise logs and throws AppException
// "Respuesta de comando de <operationName> no esperada (<sw in hex>)" in the name
// of `function` (the calling class's checkSw).
void checkSw(const ResponseAPDU& response, const std::string& operationName, const char* function);

}  // namespace mrtdutils
