#include "QuilletInput.h"
#include "QuilletPlugin.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

using namespace quillet;
using namespace testing_support;

namespace {

std::vector<std::string> g_texts;
void recordText(const char* text) { g_texts.push_back(text); }
void ignoreBinary(const char*, int) {}

TEST(Replies, TheErrorReplyIsValidJsonWhateverTheMessageHolds) {
    EXPECT_EQ(QuilletPlugin::errorReply("falta \"x\""), "{\"message\":\"falta 'x'\"}");
    EXPECT_EQ(QuilletPlugin::errorReply("C:\\a\nb\tc\x01"), "{\"message\":\"C:\\\\a\\nb\\tc\\u0001\"}");
    EXPECT_EQ(QuilletPlugin::errorReply("instalación"), "{\"message\":\"instalación\"}");
    EXPECT_EQ(QuilletPlugin::errorReply("roto \xC3"), "{\"message\":\"roto \xEF\xBF\xBD\"}");
}

TEST(Replies, LongTextsAreShortenedForTheLog) {
    EXPECT_EQ(QuilletPlugin::shortened(std::string(80, 'a')), std::string(80, 'a'));
    EXPECT_EQ(QuilletPlugin::shortened(std::string(81, 'a')), std::string(80, 'a') + "...");
    std::string accents;
    for (int i = 0; i < 81; ++i) accents += "ñ";
    EXPECT_EQ(QuilletPlugin::shortened(accents), accents.substr(0, 160) + "...");
}

TEST(TextPart, TakesStringMembersOnlyAndRefusesWhatIsNotAnObject) {
    QuilletInput in;
    EXPECT_EQ(failureOf([&] { takeTextPart(in, "{no es json"); }), "message is not a valid JSON string");
    EXPECT_EQ(failureOf([&] { takeTextPart(in, "[1,2]"); }), "message is not a JSON object");
    EXPECT_EQ(failureOf([&] { takeTextPart(in, "{} x"); }), "message is not a valid JSON string");
    EXPECT_EQ(failureOf([&] { takeTextPart(in, std::string(200000, '[')); }), "message is not a valid JSON string");
    EXPECT_EQ(in.parts, 0u);
    takeTextPart(in, R"({"reason":"Conforme","pageNumber":3,"posx":"10","timestamp":null,"extra":"x"})");
    EXPECT_EQ(in.parts, QuilletInput::kTextPart);
    EXPECT_EQ(in.reason, "Conforme");
    EXPECT_EQ(in.pageNumber, "");
    EXPECT_EQ(in.posx, "10");
    EXPECT_EQ(in.timestamp, "");
}

TEST(TextPart, TheStampImageDecodesTheSameWithLineBreaksAndPadding) {
    QuilletInput a, b;
    takeTextPart(a, R"({"stampImageBase64":"/9j/4AAQSkZJRg=="})");
    takeTextPart(b, R"({"stampImageBase64":"/9j/\r\n4AAQ\nSkZJ Rg=\u003d"})");
    EXPECT_EQ(a.stampImage, std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    EXPECT_EQ(b.stampImage, a.stampImage);
    takeTextPart(b, R"({"stampImageBase64":"QQ"})");
    EXPECT_EQ(b.stampImage, a.stampImage + "A") << "each text part adds to the image";
}

TEST(Job, TheJsonInputAndTheDescription) {
    QuilletInput in;
    in.document = "%PDF";
    in.inputFilePath = "/w/ABCDEFGHI.pdf";
    in.reason = "dijo \"sí\" \\ fin";
    EXPECT_EQ(jsonInput(in),
              R"({"inputFilePath":"/w/ABCDEFGHI.pdf","reason":"dijo \"sí\" \\ fin","isSignatureVisible":"",)"
              R"("stampAppearanceId":"","pageNumber":"","posx":"","posy":"","dcFilter":"","timestamp":"","overwrite":""})");
    in.stampImagePath = "/w/x.jpg";
    EXPECT_NE(jsonInput(in).find(R"("inputFilePath":"/w/ABCDEFGHI.pdf","stampImagePath":"/w/x.jpg","reason")"),
              std::string::npos);
    EXPECT_EQ(describe(in), R"({"inputFile":"4 bytes","stampImage":"0 bytes","inputFilePath":"/w/ABCDEFGHI.pdf",)"
                            R"("stampImagePath":"/w/x.jpg","reason":"dijo "sí" \ fin","isSignatureVisible":"",)"
                            R"("stampAppearanceId":"","pageNumber":"","posx":"","posy":"","dcFilter":"",)"
                            R"("timestamp":"","overwrite":""})");
}

TEST(Files, NamesAreRandomFilesPrivateAndCleanedUp) {
    TempDir dir;
    QuilletInput in;
    in.document = std::string("%PDF-1.4\0binario", 16);
    chooseFileNames(in, dir.path());
    EXPECT_EQ(in.stampImagePath, "");
    ASSERT_EQ(in.inputFilePath.size(), dir.path().size() + 13);
    EXPECT_EQ(in.inputFilePath.substr(in.inputFilePath.size() - 4), ".pdf");
    writeFiles(in);
    EXPECT_EQ(readWholeFile(in.inputFilePath), in.document);
    struct stat st {};
    ASSERT_EQ(stat(in.inputFilePath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    QuilletInput other = in;
    other.stampImage = "JPEG";
    chooseFileNames(other, dir.path());
    EXPECT_NE(other.inputFilePath, in.inputFilePath);
    EXPECT_EQ(other.stampImagePath.size(), dir.path().size() + 12);
    writeFiles(other);
    EXPECT_EQ(listDir(dir.path()).size(), 3u);
    cleanFiles(in);
    cleanFiles(other);
    EXPECT_TRUE(listDir(dir.path()).empty());

    EXPECT_EQ(failureOf([] { randomChars(3, ""); }), "invalid argument for chars: must not be empty");
    EXPECT_EQ(failureOf([&] { readWholeFile(dir.path()); }), "file cannot be opened for reading");
    EXPECT_EQ(failureOf([&] { writeWholeFile(dir.path() + "no/such", "x"); }), "file cannot be opened for writing");
    EXPECT_FALSE(fileExists(dir.path()));
}

// A request that is over before onConnect has run must not be undone by it.
TEST(Plugin, AnEndBeforeOnConnectStillLetsOnConnectReturn) {
    for (int round = 0; round < 3; ++round) {
        QuilletPlugin p;
        g_texts.clear();
        p.registerSendMessageFunction(recordText, ignoreBinary);
        p.onTextMessage("esto no es JSON");
        ASSERT_EQ(g_texts, std::vector<std::string>{"{\"message\":\"message is not a valid JSON string\"}"});
        auto done = std::async(std::launch::async, [&p] { p.onConnect(); });
        ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        p.onTextMessage("{}");
        EXPECT_EQ(g_texts.size(), 1u) << "messages after the end are ignored";
    }
}

TEST(Plugin, OnCloseEndsAWaitingOnConnect) {
    QuilletPlugin p;
    p.registerSendMessageFunction(recordText, ignoreBinary);
    auto done = std::async(std::launch::async, [&p] { p.onConnect(); });
    p.onBinaryMessage("%PDF", 4);
    EXPECT_EQ(done.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    p.onClose();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

}  // namespace
