#include "core/JsonReader.h"

#include "zelvo/json_nesting.h"
#include "zelvo/log.h"

#include <cctype>
#include <stdexcept>

namespace {

const picojson::value kNull;

// Decimal text to a 32-bit integer: leading blanks and a sign accepted, stops at
// the first non-digit; no digits or out of range throws.
int toInt(const std::string& text) { return std::stoi(text, nullptr, 10); }

bool isSwitchOn(const std::string& text) { return text == "1" || text == "true"; }

void warnNotString(const std::string& field, const picojson::value& v) {
    LOG_WARN("JsonReader::read") << "El campo " << field << " no es de tipo string, es de tipo " << v.to_str();
}

void warnNotObject(const std::string& field, const picojson::value& v) {
    LOG_WARN("JsonReader::read") << "El campo " << field << " no es de tipo objet, es de tipo " << v.to_str();
}

bool convertInt(const std::string& field, const std::string& text, int& out) {
    try {
        out = toInt(text);
        return true;
    } catch (const std::exception&) {
        LOG_WARN("JsonReader::read") << "El campo " << field << " no es de tipo int";
        out = 0;
        return false;
    }
}

}  // namespace

std::unique_ptr<JsonReader> JsonReader::getInstance(const std::string& text) {
    picojson::value value;
    std::string err;
    if (zelvo::jsonNestedDeeperThan(text)) {
        err = "tiene más de " + std::to_string(zelvo::kDeepestJsonNesting) + " niveles de anidamiento";
    } else if (auto end = picojson::parse(value, text.begin(), text.end(), &err); err.empty()) {
        // The whole text must be the one value: trailing text is an error too.
        auto rest = end;
        while (rest != text.end() && std::isspace(static_cast<unsigned char>(*rest))) ++rest;
        if (rest != text.end()) {
            std::string tail(rest, text.end());
            err = "syntax error after the value near: " + tail.substr(0, tail.find('\n'));
        }
    }
    if (!err.empty()) {
        LOG_WARN("JsonReader::getInstance") << "La cadena " << text << " no tiene un formato json válido. " << err;
        return nullptr;
    }
    if (!value.is<picojson::object>()) {
        LOG_WARN("JsonReader::getInstance") << "La cadena " << text << " no es un objeto json válido, es de tipo "
                                             << value.to_str();
        return nullptr;
    }
    return std::unique_ptr<JsonReader>(new JsonReader(value.get<picojson::object>()));
}

const picojson::value& JsonReader::field(const std::string& name) const {
    auto it = object_.find(name);
    return it == object_.end() ? kNull : it->second;
}

bool JsonReader::has(const std::string& name) const { return object_.count(name) != 0; }

std::string JsonReader::serialize() const {
    // The certificate password never reaches a log.
    picojson::object copy = object_;
    auto ssl = copy.find("ssl");
    if (ssl != copy.end() && ssl->second.is<picojson::object>()) {
        auto& inner = ssl->second.get<picojson::object>();
        auto pass = inner.find("certpass");
        if (pass != inner.end()) pass->second = picojson::value(std::string("*********"));
    }
    return picojson::value(copy).serialize();
}

bool JsonReader::read(const std::string& name, int& out) const {
    out = 0;
    const picojson::value& v = field(name);
    if (!v.is<std::string>()) {
        warnNotString(name, v);
        return false;
    }
    return convertInt(name, v.get<std::string>(), out);
}

bool JsonReader::read(const std::string& name, std::string& out) const {
    out.clear();
    const picojson::value& v = field(name);
    if (!v.is<std::string>()) {
        warnNotString(name, v);
        return false;
    }
    out = v.get<std::string>();
    return true;
}

bool JsonReader::read(const std::string& name, const std::string& name2, std::string& out) const {
    return readNestedString(name, name2, out);
}

bool JsonReader::read(const std::string& name, bool& out) const {
    out = false;
    const picojson::value& v = field(name);
    if (!v.is<std::string>()) {
        warnNotString(name, v);
        return false;
    }
    try {
        out = isSwitchOn(v.get<std::string>());
    } catch (const std::exception&) {
        LOG_WARN("JsonReader::read") << "El campo " << name << " no es de tipo bool";
        out = false;
    }
    return out;
}

bool JsonReader::readNestedString(const std::string& name, const std::string& name2, std::string& out) const {
    out.clear();
    const picojson::value& outer = field(name);
    if (!outer.is<picojson::object>()) {
        warnNotObject(name, outer);
        return false;
    }
    const auto& obj = outer.get<picojson::object>();
    auto it = obj.find(name2);
    const picojson::value& inner = it == obj.end() ? kNull : it->second;
    if (!inner.is<std::string>()) {
        warnNotString(name + "." + name2, inner);
        return false;
    }
    out = inner.get<std::string>();
    return true;
}

bool JsonReader::readNestedInt(const std::string& name, const std::string& name2, int& out) const {
    out = 0;
    std::string text;
    if (!readNestedString(name, name2, text)) return false;
    return convertInt(name + "." + name2, text, out);
}

bool JsonReader::readStringList(const picojson::value& value, const std::string& label,
                                std::vector<std::string>& out) const {
    if (!value.is<picojson::array>()) {
        LOG_WARN("JsonReader::read") << "El campo " << label << " no es de tipo array, es de tipo " << value.to_str();
        return false;
    }
    const auto& items = value.get<picojson::array>();
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].is<std::string>()) {
            warnNotString(label + "[" + std::to_string(i) + "]", items[i]);
            continue;
        }
        out.push_back(items[i].get<std::string>());
    }
    return true;
}

bool JsonReader::readArchive(std::vector<std::string>& out) const { return readList("archive", out); }

bool JsonReader::readList(const std::string& name, std::vector<std::string>& out) const {
    return readStringList(field(name), name, out);
}

bool JsonReader::readVmOptions(std::vector<std::string>& out) const {
    const picojson::value& java = field("java");
    if (!java.is<picojson::object>()) {
        warnNotObject("java", java);
        return false;
    }
    const auto& obj = java.get<picojson::object>();
    auto it = obj.find("vmoptions");
    return readStringList(it == obj.end() ? kNull : it->second, "java.vmoptions", out);
}

bool JsonReader::readLogLevel(int& out) const { return readNestedInt("log", "level", out); }

bool JsonReader::readSslEnabled(bool& out) const {
    std::string text;
    bool isString = readNestedString("ssl", "enabled", text);
    out = isString && isSwitchOn(text);
    return isString;
}
