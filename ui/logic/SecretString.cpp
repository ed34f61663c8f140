#include "SecretString.h"

#include <utility>

namespace zelvo::ui {

void wipeString(std::string& text) {
    // The whole capacity: a shorter text may have been written over a longer one.
    volatile char* p = &text[0];
    for (std::size_t i = 0; i < text.capacity(); ++i) p[i] = 0;
    text.clear();
}

SecretString::SecretString(SecretString&& other) noexcept : text_(std::move(other.text_)) {
    // A moved-from short string may keep its bytes in place.
    wipeString(other.text_);
}

SecretString& SecretString::operator=(SecretString&& other) noexcept {
    if (this != &other) {
        clear();
        text_.swap(other.text_);
        other.clear();
    }
    return *this;
}

void SecretString::append(const char* data, std::size_t size) {
    if (text_.size() + size > text_.capacity()) {
        // Grow into a fresh buffer ourselves so that the old one can be wiped.
        std::string bigger;
        bigger.reserve(2 * (text_.size() + size) + 16);
        bigger.append(text_);
        wipeString(text_);
        text_.swap(bigger);
    }
    text_.append(data, size);
}

void SecretString::clear() { wipeString(text_); }

}  // namespace zelvo::ui
