#pragma once
// The result of an action: text pairs in the order they were added.
#include <cstddef>
#include <string>
#include <vector>

class VexaResponse {
public:
    virtual ~VexaResponse() = default;

    void add(const std::string& key, const std::string& value);
    // A copy of the i-th key or value; empty when i is out of range.
    std::string getKey(size_t i) const;
    std::string getValue(size_t i) const;
    // The pair ("code", "-1") the page reads as "the user cancelled".
    void addCancelCode();
    size_t size() const { return keys_.size(); }

private:
    std::vector<std::string> keys_;
    std::vector<std::string> values_;
};
