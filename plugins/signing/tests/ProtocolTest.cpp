// The signing plug-in's own rules. Both orders of the two parts, the stamp
// image, the files and their modes, every failure's reply and an end before
// onConnect are proved end to end with the stand-in signer.
#include "QuilletInput.h"
#include "QuilletPlugin.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

using namespace quillet;
using namespace testing_support;

namespace {

TEST(Replies, TheErrorReplyIsValidJsonWhateverTheMessageHolds) {
    const std::pair<std::string, std::string> rows[] = {
        {"falta \"x\"", "{\"message\":\"falta 'x'\"}"},
        {"C:\\a\nb\tc\x01", "{\"message\":\"C:\\\\a\\nb\\tc\\u0001\"}"},
        {"roto \xC3", "{\"message\":\"roto \xEF\xBF\xBD\"}"},
    };
    for (const auto& [message, reply] : rows) EXPECT_EQ(QuilletPlugin::errorReply(message), reply);
}

TEST(Replies, LongTextsAreShortenedForTheLogOnACharacterBoundary) {
    EXPECT_EQ(QuilletPlugin::shortened(std::string(80, 'a')), std::string(80, 'a'));
    EXPECT_EQ(QuilletPlugin::shortened(std::string(81, 'a')), std::string(80, 'a') + "...");
    std::string accents;
    for (int i = 0; i < 81; ++i) accents += "ñ";
    EXPECT_EQ(QuilletPlugin::shortened(accents), accents.substr(0, 160) + "...");
}

TEST(TextPart, TakesStringMembersOnlyAndRefusesWhatIsNotAnObject) {
    QuilletInput in;
    for (const std::string& bad : {std::string("{} x"), std::string(200000, '[')})
        EXPECT_EQ(failureOf([&] { takeTextPart(in, bad); }), "message is not a valid JSON string");
    EXPECT_EQ(in.parts, 0u);
    takeTextPart(in, R"({"reason":"dijo \"sí\" \\ fin","pageNumber":3,"posx":"10","timestamp":null,"extra":"x"})");
    EXPECT_EQ(in.parts, QuilletInput::kTextPart);
    in.inputFilePath = "/w/ABCDEFGHI.pdf";
    EXPECT_EQ(jsonInput(in),
              R"({"inputFilePath":"/w/ABCDEFGHI.pdf","reason":"dijo \"sí\" \\ fin","isSignatureVisible":"",)"
              R"("stampAppearanceId":"","pageNumber":"","posx":"10","posy":"","dcFilter":"","timestamp":"","overwrite":""})");
    in.stampImagePath = "/w/x.jpg";
    EXPECT_NE(jsonInput(in).find(R"("inputFilePath":"/w/ABCDEFGHI.pdf","stampImagePath":"/w/x.jpg","reason")"),
              std::string::npos);
}

TEST(Files, OnlyRegularFilesWithinTheirBoundAreReadAndFailuresAreInWords) {
    TempDir dir;
    EXPECT_EQ(failureOf([] { randomChars(3, ""); }), "invalid argument for chars: must not be empty");
    EXPECT_EQ(failureOf([&] { readWholeFile(dir.path(), 100); }), "file cannot be opened for reading");
    EXPECT_FALSE(zelvo::isReadableFile(dir.path()));
    writeFile(dir.path() + "grande.pdf", std::string(101, 'x'));
    EXPECT_EQ(failureOf([&] { readWholeFile(dir.path() + "grande.pdf", 100); }), "file cannot be opened for reading");
    EXPECT_EQ(readWholeFile(dir.path() + "grande.pdf", 101), std::string(101, 'x'));
    EXPECT_TRUE(zelvo::isReadableFile(dir.path() + "grande.pdf"));
    const char sep = zelvo::kPathSeparator;
    EXPECT_EQ(failureOf([&] { writeNewFile(dir.path() + "no" + sep + "such" + sep, 9, ".pdf", "x"); }),
              "file cannot be opened for writing");
}

std::vector<std::string> g_texts;
void recordText(const char* text) { g_texts.push_back(text); }
void ignoreBinary(const char*, int) {}

TEST(Plugin, OnCloseEndsAWaitingOnConnect) {
    QuilletPlugin p;
    p.registerSendMessageFunction(recordText, ignoreBinary);
    auto done = std::async(std::launch::async, [&p] { p.onConnect(); });
    p.onBinaryMessage("%PDF", 4);
    EXPECT_EQ(done.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "one part is not a job";
    p.onClose();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(g_texts.empty());
}

}  // namespace
