#include "base/AppException.h"

#include <cstdio>

#include "zelvo/log.h"

AppException::AppException(std::string condition, std::string message, std::string detail, int32_t code,
                           std::string function, int line)
    : condition_(std::move(condition)),
      message_(std::move(message)),
      detail_(std::move(detail)),
      code_(code),
      function_(std::move(function)),
      line_(line) {}

void raiseAppException(const char* function, int line, const std::string& condition, const std::string& message) {
    zelvo::log::write(zelvo::log::Severity::error, function, line, "[" + condition + "] " + message);
    throw AppException(condition, message, "", 0, function, line);
}

void raisePlatformException(const char* function, int line, const std::string& condition,
                            const std::string& message, const std::string& detail, int32_t code,
                            CodeFormat format) {
    char number[16];
    if (format == CodeFormat::hex)
        std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(code));
    else
        std::snprintf(number, sizeof number, "%d", code);
    zelvo::log::write(zelvo::log::Severity::error, function, line,
                      "[" + condition + "] " + message + " / " + detail + " (" + number + ")");
    throw AppException(condition, message, detail, code, function, line);
}
