#pragma once
#include <cstddef>
#include <string>

namespace zelvo::ui {

// Text that must not outlive its use (PINs): it cannot be copied, and every
// buffer it ever used is overwritten before it is released.
class SecretString {
public:
    SecretString() = default;
    SecretString(const char* data, std::size_t size) { append(data, size); }
    SecretString(SecretString&& other) noexcept;
    SecretString& operator=(SecretString&& other) noexcept;
    SecretString(const SecretString&) = delete;
    SecretString& operator=(const SecretString&) = delete;
    ~SecretString() { clear(); }

    void append(const char* data, std::size_t size);
    void append(const std::string& text) { append(text.data(), text.size()); }
    void append(char c) { append(&c, 1); }
    void clear();

    const std::string& str() const { return text_; }
    const char* data() const { return text_.data(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

private:
    std::string text_;
};

// Overwrites every byte a string's buffer holds, then empties it.
void wipeString(std::string& text);

}  // namespace zelvo::ui
