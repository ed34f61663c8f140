#pragma once
// Private to smartcardio: every PC/SC call goes through pcscCall, which checks the
// result and turns a failure into an AppException with the platform's code and
// text. The failures and their messages are the table in PcscCall.cpp.
#include <initializer_list>

#include "smartcardio/PcscPlatform.h"

namespace smartcardio {

// A message that replaces the default one for one platform result.
struct CodeMessage {
    LONG code;
    const char* message;
};

struct PcscFailure {
    const char* function;   // "smartcardio::Class::method" for the log and the exception
    const char* condition;  // the platform call
    const char* message;    // the user's text
    std::initializer_list<CodeMessage> byCode;
};

// The table of failures, one entry per call site.
namespace failures {
extern const PcscFailure establishContext;
extern const PcscFailure listReaders;
extern const PcscFailure connect;
extern const PcscFailure transmit;
}  // namespace failures

[[noreturn]] void raisePcscFailure(const PcscFailure& failure, LONG code, int line);

template <typename Call, typename... Args>
void pcscCall(const PcscFailure& failure, int line, Call call, Args... args) {
    LONG rv = call(args...);
    if (rv != SCARD_S_SUCCESS) raisePcscFailure(failure, rv, line);
}

}  // namespace smartcardio

#define PCSC_CALL(failure, call, ...) ::smartcardio::pcscCall(failure, __LINE__, call, __VA_ARGS__)
