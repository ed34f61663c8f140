// The Java host's own logic: text between UTF-8 and Java's UTF-16, and where
// libjvm.so is looked for. The JVM itself is exercised end to end.
#include "java/JniText.h"
#include "java/JvmLocator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Decodes exactly `text`'s bytes from a heap block of that size, so that a read
// past the end shows under the sanitizers.
std::u16string toUtf16(const std::string& text) {
    std::unique_ptr<char[]> exact(new char[text.size() ? text.size() : 1]);
    std::copy(text.begin(), text.end(), exact.get());
    return jnitext::utf8ToUtf16(exact.get(), text.size());
}

std::string toUtf8(const std::u16string& units) {
    return jnitext::utf16ToUtf8(units.data(), units.size());
}

}  // namespace

TEST(JniText, WellFormedTextRoundTripsThroughUtf16) {
    const std::string text = std::string("a\0b", 3) + "ñ€\xF0\x9D\x84\x9E";  // NUL, 2, 3 and 4 bytes
    std::u16string units = toUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'a', 0, u'b', 0x00F1, 0x20AC, 0xD834, 0xDD1E}));
    EXPECT_EQ(toUtf8(units), text);
}

TEST(JniText, EachMalformedSequenceBecomesOneReplacementCharacter) {
    const char16_t R = 0xFFFD;
    EXPECT_EQ(toUtf16("a\xFF" "b"), (std::u16string{u'a', R, u'b'}));
    EXPECT_EQ(toUtf16("\x80"), std::u16string(1, R));           // continuation without a lead
    EXPECT_EQ(toUtf16("x\xE2\x82" "y"), (std::u16string{u'x', R, u'y'}));  // cut short by another character
    EXPECT_EQ(toUtf16("x\xE2\x82"), (std::u16string{u'x', R}));  // cut short by the end
    EXPECT_EQ(toUtf16("\xF0\x9D\x84"), std::u16string(1, R));
    EXPECT_EQ(toUtf16("\xC0\xAF"), std::u16string(1, R));        // overlong '/'
    EXPECT_EQ(toUtf16("\xE0\x80\xAF"), std::u16string(1, R));    // overlong '/'
    EXPECT_EQ(toUtf16("\xED\xA0\x80"), std::u16string(1, R));    // an encoded surrogate
    EXPECT_EQ(toUtf16("\xF4\x90\x80\x80"), std::u16string(1, R));  // above U+10FFFF
    EXPECT_EQ(toUtf16(""), std::u16string());
}

TEST(JniText, UnpairedSurrogatesFromJavaBecomeReplacementCharacters) {
    const std::string R = "\xEF\xBF\xBD";
    EXPECT_EQ(toUtf8({u'a', 0xD834}), "a" + R);           // high half at the end
    EXPECT_EQ(toUtf8({0xDD1E, u'b'}), R + "b");           // low half alone
    EXPECT_EQ(toUtf8({0xD834, 0xD834, 0xDD1E}), R + "\xF0\x9D\x84\x9E");
}

// Registry files and folders that stand for Java installations.
class JvmLocatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zelvo-jvm-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("ZELVO_REGISTRY", (dir_ / "java.reg").c_str(), 1);
        const char* home = std::getenv("JAVA_HOME");
        if (home) savedHome_ = std::make_unique<std::string>(home);
    }
    void TearDown() override {
        unsetenv("ZELVO_REGISTRY");
        if (savedHome_) {
            setenv("JAVA_HOME", savedHome_->c_str(), 1);
        } else {
            unsetenv("JAVA_HOME");
        }
        fs::remove_all(dir_);
    }
    std::string touch(const std::string& relative) {
        fs::path path = dir_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "";
        return path.string();
    }
    void registry(const std::string& version, const std::string* runtimeLib) {
        std::ofstream out(dir_ / "java.reg");
        out << "Windows Registry Editor Version 5.00\n\n"
            << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment]\n"
            << "\"CurrentVersion\"=\"" << version << "\"\n\n"
            << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\" << version << "]\n";
        if (runtimeLib) out << "\"RuntimeLib\"=\"" << *runtimeLib << "\"\n";
    }
    std::string registered(const std::string& runtimeLib) {
        registry("17", &runtimeLib);
        std::string path = "unchanged";
        EXPECT_TRUE(JvmLocator::fromRegistry(path));
        return path;
    }
    fs::path dir_;
    std::unique_ptr<std::string> savedHome_;
};

TEST_F(JvmLocatorTest, RegisteredRuntimeLibraryAndItsServerFallback) {
    std::string server = touch("jre/lib/server/libjvm.so");
    std::string client = (dir_ / "jre/lib/client/libjvm.so").string();
    EXPECT_EQ(registered(server), server);
    EXPECT_EQ(registered(client), server);  // client/ missing, server/ beside it
    touch("jre/lib/client/libjvm.so");
    EXPECT_EQ(registered(client), client);  // client/ present wins
    EXPECT_EQ(JvmLocator::runtimeDirectory(client), (dir_ / "jre/lib").string() + "/");
    EXPECT_EQ(JvmLocator::runtimeDirectory(server), (dir_ / "jre/lib").string() + "/");
    EXPECT_EQ(JvmLocator::runtimeDirectory("/opt/java/libjvm.so"), "");
}

TEST_F(JvmLocatorTest, ABadRegisteredRuntimeFindsNothingEvenWithJavaHome) {
    touch("home/lib/server/libjvm.so");
    setenv("JAVA_HOME", (dir_ / "home").c_str(), 1);
    std::string capitals = touch("jre/lib/server/LIBJVM.SO");
    EXPECT_EQ(registered(capitals), "");
    EXPECT_EQ(registered((dir_ / "nothing/lib/server/libjvm.so").string()), "");
    EXPECT_EQ(registered((dir_ / "nothing/lib/client/libjvm.so").string()), "");
    EXPECT_EQ(registered((dir_ / "other/libjvm.so").string()), "");  // not client/: no fallback
    registry("17", nullptr);
    std::string path;
    EXPECT_TRUE(JvmLocator::fromRegistry(path));
    EXPECT_EQ(path, "");
    EXPECT_EQ(JvmLocator::findJvmLibrary(), "");
}

TEST_F(JvmLocatorTest, WithoutJavaKeysJavaHomeIsUsed) {
    std::string path = "unchanged";
    EXPECT_FALSE(JvmLocator::fromRegistry(path));  // no registry file at all
    registry("", nullptr);
    EXPECT_FALSE(JvmLocator::fromRegistry(path));  // an empty version is no version
    std::string lib = touch("home/lib/server/libjvm.so");
    EXPECT_EQ(JvmLocator::fromJavaHome((dir_ / "home").string()), lib);
    EXPECT_EQ(JvmLocator::fromJavaHome((dir_ / "home").string() + "/"), lib);
    EXPECT_EQ(JvmLocator::fromJavaHome((dir_ / "nothing").string()), "");
    EXPECT_EQ(JvmLocator::fromJavaHome(""), "");
    setenv("JAVA_HOME", (dir_ / "home").c_str(), 1);
    EXPECT_EQ(JvmLocator::findJvmLibrary(), lib);
}
