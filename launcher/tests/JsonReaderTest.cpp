#include "TestUtil.h"
#include "core/JsonReader.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<JsonReader> reader(const std::string& text) {
    auto r = JsonReader::getInstance(text);
    EXPECT_TRUE(r) << text;
    return r;
}

// An object `levels` deep.
std::string nested(int levels) {
    std::string text;
    for (int i = 1; i < levels; ++i) text += "{\"a\":";
    return text + "{}" + std::string(levels - 1, '}');
}

}  // namespace

TEST(JsonReader, RefusesWhatIsNotOneObject) {
    LogCapture log;
    // Nesting beyond 64 levels is refused before parsing instead of exhausting the stack.
    for (const std::string& text : {std::string("[1,2]"), std::string("{\"a\":\"1\""), std::string("{} {\"b\":1}"),
                                    std::string(""), std::string("\"text\""), std::string(100000, '['), nested(65),
                                    nested(100000)})
        EXPECT_FALSE(JsonReader::getInstance(text)) << text.substr(0, 20);
    for (const char* record : {"WARN  [", "[JsonReader::getInstance@",
                               "La cadena [1,2] no es un objeto json válido, es de tipo array",
                               "La cadena {\"a\":\"1\" no tiene un formato json válido. syntax error", "es de tipo text",
                               "}}} no tiene un formato json válido. tiene más de 64 niveles de anidamiento"})
        EXPECT_TRUE(log.contains(record)) << record;
    EXPECT_TRUE(JsonReader::getInstance(" {\"a\":\"b\"} \n"));
    EXPECT_TRUE(JsonReader::getInstance(nested(64)));
    EXPECT_TRUE(JsonReader::getInstance("{\"a\":\"\\\"" + std::string(100, '{') + "\"}")) << "brackets in strings";
}

TEST(JsonReader, IntegersAreDecimalStrings) {
    LogCapture log;
    auto r = reader(R"({"n":8080,"s":"8080","p":"80x","x":"x","big":"99999999999","neg":" -5","f":"1.9"})");
    // Key, read or not, value; a failed read gives 0.
    const std::tuple<const char*, bool, int> rows[] = {
        {"n", false, 0}, {"s", true, 8080}, {"p", true, 80}, {"x", false, 0}, {"big", false, 0},  // out of 32 bits
        {"neg", true, -5}, {"f", true, 1}, {"missing", false, 0},
    };
    for (const auto& [key, ok, value] : rows) {
        int v = 7;
        EXPECT_EQ(ok, r->read(key, v)) << key;
        EXPECT_EQ(value, v) << key;
    }
    for (const char* record : {"El campo n no es de tipo string, es de tipo 8080", "El campo x no es de tipo int",
                               "El campo missing no es de tipo string, es de tipo null"})
        EXPECT_TRUE(log.contains(record)) << record;
}

TEST(JsonReader, StringsSwitchesAndNestedStrings) {
    LogCapture log;
    auto r = reader(R"({"a":"1","b":"true","c":"True","d":"yes","e":"0","t":true,"o":{"k":"v","n":5},"arr":[]})");
    for (auto [key, ok, value] : {std::tuple{"a", true, true}, {"b", true, true}, {"c", false, false}, {"d", false, false},
                                  {"e", false, false}, {"t", false, false}}) {
        bool b = true;
        EXPECT_EQ(ok, r->read(key, b)) << key;
        EXPECT_EQ(value, b) << key;
    }
    EXPECT_EQ(1u, log.count("WARN")) << "a string that is not a switch word is simply false, quietly";
    EXPECT_TRUE(log.contains("El campo t no es de tipo string, es de tipo true"));

    std::string s = "old";
    EXPECT_TRUE(r->read("a", s));
    EXPECT_EQ(s, "1");
    EXPECT_FALSE(r->read("o", s));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(r->read("o", "k", s));
    EXPECT_EQ(s, "v");
    EXPECT_FALSE(r->read("o", "n", s));
    EXPECT_FALSE(r->read("arr", "k", s));
    for (const char* record : {"El campo o no es de tipo string, es de tipo object",
                               "El campo o.n no es de tipo string, es de tipo 5",
                               "El campo arr no es de tipo objet, es de tipo array"})
        EXPECT_TRUE(log.contains(record)) << record;
}

TEST(JsonReader, Lists) {
    LogCapture log;
    auto r = reader(R"({"archive":["a",1,"b"],"java":{"vmoptions":["-Xmx64m",null]},"x":{"archive":"no"}})");
    std::vector<std::string> list{"keep"};
    EXPECT_TRUE(r->readArchive(list));
    EXPECT_EQ(list, (std::vector<std::string>{"keep", "a", "b"}));
    std::vector<std::string> vm;
    EXPECT_TRUE(r->readVmOptions(vm));
    EXPECT_EQ(vm, (std::vector<std::string>{"-Xmx64m"}));

    auto none = reader(R"({"archive":"a.jar","java":{"vmoptions":"-Xmx1m"}})");
    std::vector<std::string> unchanged{"x"};
    EXPECT_FALSE(none->readArchive(unchanged));
    EXPECT_FALSE(none->readVmOptions(unchanged));
    EXPECT_FALSE(reader("{}")->readVmOptions(unchanged));
    EXPECT_EQ(unchanged, (std::vector<std::string>{"x"}));
    for (const char* record : {"El campo archive[1] no es de tipo string, es de tipo 1",
                               "El campo java.vmoptions[1] no es de tipo string, es de tipo null",
                               "El campo archive no es de tipo array, es de tipo a.jar",
                               "El campo java.vmoptions no es de tipo array, es de tipo -Xmx1m",
                               "El campo java no es de tipo objet, es de tipo null"})
        EXPECT_TRUE(log.contains(record)) << record;
}

// The log level's reading is proved end to end.
TEST(JsonReader, TheTlsSwitch) {
    LogCapture log;
    bool on = true;
    EXPECT_FALSE(reader(R"({"ssl":{}})")->readSslEnabled(on));
    EXPECT_FALSE(on);
    EXPECT_TRUE(log.contains("El campo ssl.enabled no es de tipo string, es de tipo null"));
    EXPECT_TRUE(reader(R"({"ssl":{"enabled":"no"}})")->readSslEnabled(on)) << "a string: read, but off";
    EXPECT_FALSE(on);
    EXPECT_TRUE(reader(R"({"ssl":{"enabled":"true"}})")->readSslEnabled(on));
    EXPECT_TRUE(on);
}
