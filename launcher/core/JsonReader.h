#pragma once
// The launcher's one way of reading JSON: one parsed object with typed field
// readers that never throw. Every scalar is a JSON string ("8080", "1", "true");
// a field of another form is logged as a warning and reads as a neutral value.
#include <picojson.h>

#include <memory>
#include <string>
#include <vector>

class JsonReader {
public:
    // A reader over `text`, or null (with a warning) when it is not a JSON object.
    static std::unique_ptr<JsonReader> getInstance(const std::string& text);

    // Integer held as a string of decimal digits; 0 on failure.
    bool read(const std::string& name, int& out) const;
    // String; empty on failure.
    bool read(const std::string& name, std::string& out) const;
    // String `name2` inside the object `name`; empty on failure.
    bool read(const std::string& name, const std::string& name2, std::string& out) const;
    // Switch: true only for "1" or "true". Returns the value read.
    bool read(const std::string& name, bool& out) const;
    // "archive": the string elements appended in order; true whenever it is an array.
    bool readArchive(std::vector<std::string>& out) const;
    // Any list of strings, as readArchive.
    bool readList(const std::string& name, std::vector<std::string>& out) const;
    // "java" -> "vmoptions": as readArchive.
    bool readVmOptions(std::vector<std::string>& out) const;
    // "log" -> "level" as an integer; 0 on failure.
    bool readLogLevel(int& out) const;
    // "ssl" -> "enabled" as a switch; true whenever the inner field is a string.
    bool readSslEnabled(bool& out) const;

    // True when the object has the member (reading optional keys without a warning).
    bool has(const std::string& name) const;
    // The object as compact JSON text, with "ssl" -> "certpass" masked.
    std::string serialize() const;

private:
    explicit JsonReader(picojson::object object) : object_(std::move(object)) {}
    const picojson::value& field(const std::string& name) const;
    bool readNestedString(const std::string& name, const std::string& name2, std::string& out) const;
    bool readNestedInt(const std::string& name, const std::string& name2, int& out) const;
    bool readStringList(const picojson::value& value, const std::string& label, std::vector<std::string>& out) const;

    picojson::object object_;
};
