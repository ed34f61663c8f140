#pragma once
// The plug-in's one failure type. Only `message` reaches the web page; the rest
// says where and why in the log.
#include <cstdint>
#include <exception>
#include <string>

class AppException : public std::exception {
public:
    AppException(std::string condition, std::string message, std::string detail, int32_t code,
                 std::string function, int line);

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& condition() const { return condition_; }
    const std::string& message() const { return message_; }
    const std::string& detail() const { return detail_; }
    int32_t code() const { return code_; }
    const std::string& function() const { return function_; }
    int line() const { return line_; }

private:
    std::string condition_;
    std::string message_;
    std::string detail_;
    int32_t code_;
    std::string function_;
    int line_;
};

// How a platform error code is written at the end of the log line.
enum class CodeFormat { hex, decimal };

// Logs "[condition] message" at error severity in the name of `function`, then throws.
[[noreturn]] void raiseAppException(const char* function, int line, const std::string& condition,
                                    const std::string& message);
// The same for a failed platform call: the log line goes on with
// " / detail (0x<hex code>)" or " / detail (<decimal code>)".
[[noreturn]] void raisePlatformException(const char* function, int line, const std::string& condition,
                                         const std::string& message, const std::string& detail, int32_t code,
                                         CodeFormat format);

#define APP_THROW(function, condition, message) raiseAppException(function, __LINE__, condition, message)
