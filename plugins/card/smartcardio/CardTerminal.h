#pragma once
// The PC/SC resource-manager context and the list of readers it sees.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace smartcardio {

class CardTerminal {
public:
    // A new terminal owning a fresh context.
    static std::unique_ptr<CardTerminal> getInstance();
    ~CardTerminal();
    CardTerminal(const CardTerminal&) = delete;
    CardTerminal& operator=(const CardTerminal&) = delete;

    // The reader names in the order the platform lists them; never empty.
    std::vector<std::string> readers() const;
    // Splits a multi-string (names each ended by NUL, an empty name last) of at
    // most `length` bytes; a list that is not terminated ends at `length`.
    static std::vector<std::string> parseReadersList(const char* multiString, size_t length);

    // The platform context (an SCARDCONTEXT), for the channels opened on it.
    std::uintptr_t context() const { return context_; }

private:
    explicit CardTerminal(std::uintptr_t context) : context_(context) {}
    std::uintptr_t context_;
};

}  // namespace smartcardio
