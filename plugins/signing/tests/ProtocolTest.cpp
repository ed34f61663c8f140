// The signing plug-in's own rules. Both orders of the two parts, the stamp
// image, the files and their modes, every failure's reply and an end before
// onConnect are proved end to end with the stand-in signer.
#include "QuilletInput.h"
#include "QuilletPlugin.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(Files, OnlyRegularFilesAreReadAndFailuresAreInWords) {
    TempDir dir;
    EXPECT_EQ(failureOf([] { randomChars(3, ""); }), "invalid argument for chars: must not be empty");
    EXPECT_EQ(failureOf([&] { readWholeFile(dir.path()); }), "file cannot be opened for reading");
    EXPECT_EQ(failureOf([&] { writeNewFile(dir.path() + "no/such/", 9, ".pdf", "x"); }),
              "file cannot be opened for writing");
    EXPECT_FALSE(fileExists(dir.path()));
}

// With one random character there are 62 names: 61 taken (by links to a file
// of someone else's and by a file) leave "y", which must be the one created.
TEST(Files, FilesAreCreatedNewAndATakenNameIsDrawnAgain) {
    TempDir dir;
    writeFile(dir.path() + "ajeno", "no tocar");
    writeFile(dir.path() + "z.pdf", "existente");
    for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx"))
        ASSERT_EQ(symlink((dir.path() + "ajeno").c_str(), (dir.path() + c + ".pdf").c_str()), 0);
    struct stat st {};
    EXPECT_TRUE(writeNewFile(dir.path(), 1, ".pdf", "%PDF") == dir.path() + "y.pdf" &&
                stat((dir.path() + "y.pdf").c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    EXPECT_EQ(readFile(dir.path() + "y.pdf") + readFile(dir.path() + "ajeno") + readFile(dir.path() + "z.pdf"),
              "%PDFno tocarexistente");
    EXPECT_EQ(failureOf([&] { writeNewFile(dir.path(), 1, ".pdf", "x"); }),
              "no se pudo crear un archivo nuevo en " + dir.path());
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
