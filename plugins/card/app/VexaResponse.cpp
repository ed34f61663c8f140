#include "app/VexaResponse.h"

void VexaResponse::add(const std::string& key, const std::string& value) {
    keys_.push_back(key);
    values_.push_back(value);
}

std::string VexaResponse::getKey(size_t i) const { return i < keys_.size() ? keys_[i] : std::string(); }

std::string VexaResponse::getValue(size_t i) const { return i < values_.size() ? values_[i] : std::string(); }

void VexaResponse::addCancelCode() { add("code", "-1"); }
