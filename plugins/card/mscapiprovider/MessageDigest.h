#pragma once
// A running hash (SHA-1).
#include <cstdint>
#include <memory>

#include "base/Bytes.h"

namespace mscapiprovider {

class MessageDigest {
public:
    static std::unique_ptr<MessageDigest> getInstance(uint32_t algorithm);
    ~MessageDigest();
    MessageDigest(const MessageDigest&) = delete;
    MessageDigest& operator=(const MessageDigest&) = delete;

    void update(const Bytes& data);
    void update(const uint8_t* data, size_t length);
    // The digest of everything given so far; the hash is finished by it and
    // takes no more data, while asking again gives the same value.
    Bytes digest();

private:
    explicit MessageDigest(void* context) : context_(context) {}
    void* context_;  // an EVP_MD_CTX
    bool finished_ = false;
    Bytes value_;
};

// One-shot SHA-1.
Bytes sha1(const Bytes& data);

}  // namespace mscapiprovider
