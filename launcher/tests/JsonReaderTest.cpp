#include "LogCapture.h"
#include "core/JsonReader.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<JsonReader> reader(const std::string& text) {
    auto r = JsonReader::getInstance(text);
    EXPECT_TRUE(r) << text;
    return r;
}

}  // namespace

TEST(JsonReader, RefusesWhatIsNotOneObject) {
    LogCapture log;
    EXPECT_FALSE(JsonReader::getInstance("[1,2]"));
    EXPECT_TRUE(log.contains("WARN  ["));
    EXPECT_TRUE(log.contains("[JsonReader::getInstance@"));
    EXPECT_TRUE(log.contains("La cadena [1,2] no es un objeto json válido, es de tipo array"));

    EXPECT_FALSE(JsonReader::getInstance("{\"a\":\"1\""));
    EXPECT_TRUE(log.contains("La cadena {\"a\":\"1\" no tiene un formato json válido. syntax error"));

    EXPECT_FALSE(JsonReader::getInstance("{} {\"b\":1}")) << "text after the object";
    EXPECT_FALSE(JsonReader::getInstance(""));
    EXPECT_FALSE(JsonReader::getInstance("\"text\""));
    EXPECT_TRUE(log.contains("es de tipo text"));
    EXPECT_TRUE(JsonReader::getInstance(" {\"a\":\"b\"} \n"));
    // Nesting beyond the parser's depth limit is refused instead of exhausting the stack.
    EXPECT_FALSE(JsonReader::getInstance(std::string(100000, '[')));
}

TEST(JsonReader, IntegersAreDecimalStrings) {
    LogCapture log;
    auto r = reader(R"({"n":8080,"s":"8080","p":"80x","x":"x","big":"99999999999","neg":" -5","f":"1.9"})");
    int v = 7;
    EXPECT_FALSE(r->read("n", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(log.contains("El campo n no es de tipo string, es de tipo 8080"));
    EXPECT_TRUE(r->read("s", v));
    EXPECT_EQ(v, 8080);
    EXPECT_TRUE(r->read("p", v));
    EXPECT_EQ(v, 80);
    EXPECT_FALSE(r->read("x", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(log.contains("El campo x no es de tipo int"));
    EXPECT_FALSE(r->read("big", v)) << "out of the 32-bit range";
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(r->read("neg", v));
    EXPECT_EQ(v, -5);
    EXPECT_TRUE(r->read("f", v));
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(r->read("missing", v));
    EXPECT_TRUE(log.contains("El campo missing no es de tipo string, es de tipo null"));
}

TEST(JsonReader, StringsSwitchesAndNestedStrings) {
    LogCapture log;
    auto r = reader(R"({"a":"1","b":"true","c":"True","d":"yes","e":"0","t":true,"o":{"k":"v","n":5},"arr":[]})");
    bool b = true;
    EXPECT_TRUE(r->read("a", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(r->read("b", b));
    for (const char* off : {"c", "d", "e"}) {
        EXPECT_FALSE(r->read(off, b)) << off;
        EXPECT_FALSE(b);
    }
    EXPECT_FALSE(log.contains("WARN")) << "a string that is not a switch word is simply false";
    EXPECT_FALSE(r->read("t", b));
    EXPECT_TRUE(log.contains("El campo t no es de tipo string, es de tipo true"));

    std::string s = "old";
    EXPECT_TRUE(r->read("a", s));
    EXPECT_EQ(s, "1");
    EXPECT_FALSE(r->read("o", s));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(log.contains("El campo o no es de tipo string, es de tipo object"));
    EXPECT_TRUE(r->read("o", "k", s));
    EXPECT_EQ(s, "v");
    EXPECT_FALSE(r->read("o", "n", s));
    EXPECT_TRUE(log.contains("El campo o.n no es de tipo string, es de tipo 5"));
    EXPECT_FALSE(r->read("arr", "k", s));
    EXPECT_TRUE(log.contains("El campo arr no es de tipo objet, es de tipo array"));
}

TEST(JsonReader, Lists) {
    LogCapture log;
    auto r = reader(R"({"archive":["a",1,"b"],"java":{"vmoptions":["-Xmx64m",null]},"x":{"archive":"no"}})");
    std::vector<std::string> list{"keep"};
    EXPECT_TRUE(r->readArchive(list));
    EXPECT_EQ(list, (std::vector<std::string>{"keep", "a", "b"}));
    EXPECT_TRUE(log.contains("El campo archive[1] no es de tipo string, es de tipo 1"));
    std::vector<std::string> vm;
    EXPECT_TRUE(r->readVmOptions(vm));
    EXPECT_EQ(vm, (std::vector<std::string>{"-Xmx64m"}));
    EXPECT_TRUE(log.contains("El campo java.vmoptions[1] no es de tipo string, es de tipo null"));

    auto none = reader(R"({"archive":"a.jar","java":{"vmoptions":"-Xmx1m"}})");
    std::vector<std::string> unchanged{"x"};
    EXPECT_FALSE(none->readArchive(unchanged));
    EXPECT_FALSE(none->readVmOptions(unchanged));
    EXPECT_EQ(unchanged, (std::vector<std::string>{"x"}));
    EXPECT_TRUE(log.contains("El campo archive no es de tipo array, es de tipo a.jar"));
    EXPECT_TRUE(log.contains("El campo java.vmoptions no es de tipo array, es de tipo -Xmx1m"));
    EXPECT_FALSE(reader("{}")->readVmOptions(unchanged));
    EXPECT_TRUE(log.contains("El campo java no es de tipo objet, es de tipo null"));
}

TEST(JsonReader, LogLevelAndTlsSwitch) {
    LogCapture log;
    int level = 9;
    EXPECT_TRUE(reader(R"({"log":{"level":"6"}})")->readLogLevel(level));
    EXPECT_EQ(level, 6);
    EXPECT_FALSE(reader(R"({"log":{"level":3}})")->readLogLevel(level));
    EXPECT_EQ(level, 0);
    EXPECT_TRUE(log.contains("El campo log.level no es de tipo string, es de tipo 3"));
    EXPECT_FALSE(reader(R"({"log":{"level":"abc"}})")->readLogLevel(level));
    EXPECT_TRUE(log.contains("El campo log.level no es de tipo int"));

    bool on = true;
    EXPECT_FALSE(reader(R"({"ssl":{}})")->readSslEnabled(on));
    EXPECT_FALSE(on);
    EXPECT_TRUE(log.contains("El campo ssl.enabled no es de tipo string, es de tipo null"));
    EXPECT_TRUE(reader(R"({"ssl":{"enabled":"no"}})")->readSslEnabled(on)) << "a string: read, but off";
    EXPECT_FALSE(on);
    EXPECT_TRUE(reader(R"({"ssl":{"enabled":"true"}})")->readSslEnabled(on));
    EXPECT_TRUE(on);
}

TEST(JsonReader, SerializeHidesTheCertificatePassword) {
    auto r = reader(R"({"port":"1","ssl":{"certpass":"secreto","certpath":"c.pem"}})");
    std::string text = r->serialize();
    EXPECT_EQ(text.find("secreto"), std::string::npos);
    EXPECT_NE(text.find("\"certpath\":\"c.pem\""), std::string::npos);
    EXPECT_NE(text.find("\"port\":\"1\""), std::string::npos);
    std::string pass;
    EXPECT_TRUE(r->read("ssl", "certpass", pass));
    EXPECT_EQ(pass, "secreto") << "the reader itself keeps the value";
}
