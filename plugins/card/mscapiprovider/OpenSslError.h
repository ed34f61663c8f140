#pragma once
// Private to mscapiprovider: a failed libcrypto call becomes an AppException
// carrying the first error of OpenSSL's queue as its code and text.
namespace mscapiprovider {

[[noreturn]] void raiseCryptoFailure(const char* function, int line, const char* condition, const char* message);

}  // namespace mscapiprovider

#define CRYPTO_FAIL(function, condition, message) \
    ::mscapiprovider::raiseCryptoFailure(function, __LINE__, condition, message)
