#include "zelvo/paths.h"
#include "zelvo/private_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <sys/stat.h>

namespace fs = std::filesystem;

TEST(Paths, TheUsersStateFolderIsPrivateAndTakesOverFromAFolderThatCannotBeWritten) {
    EXPECT_EQ(zelvo::programDir().back(), '/');
    EXPECT_TRUE(fs::exists(zelvo::programPath()));
    std::string pattern = (fs::temp_directory_path() / "zelvo-state-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    setenv("XDG_STATE_HOME", pattern.c_str(), 1);
    std::string dir = zelvo::userStateDir("signing");
    EXPECT_EQ(dir, pattern + "/zelvo/signing/");
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(zelvo::writableDirOr("/nonexistent/zelvo", "signing"), dir) << "a folder the process cannot write in falls back";
    EXPECT_EQ(zelvo::writableDirOr("/usr/lib", "signing"), dir) << "no program writes under /usr, not even root";
    EXPECT_EQ(zelvo::writableDirOr(pattern, "signing"), pattern + "/");
    unsetenv("XDG_STATE_HOME");
    fs::remove_all(pattern);
}

TEST(Paths, AppendToPathOnlyWhenSet) {
    std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
    zelvo::appendToPath("/opt/x");
    EXPECT_EQ(std::string(std::getenv("PATH")), old + ":/opt/x");
    unsetenv("PATH");
    zelvo::appendToPath("/opt/x");
    EXPECT_EQ(std::getenv("PATH"), nullptr);
    setenv("PATH", old.c_str(), 1);
}

TEST(Paths, AFileOfTheUsersOwnIsReadOnlyWhenItIsARegularFileNobodyElseMayChange) {
    std::string pattern = (fs::temp_directory_path() / "zelvo-own-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const auto write = [](const fs::path& p, const std::string& text, unsigned mode) {
        FILE* f = std::fopen(p.c_str(), "wb");
        std::fputs(text.c_str(), f);
        std::fclose(f);
        chmod(p.c_str(), mode);
    };
    write(dir / "own", "{}", 0600);
    write(dir / "shared", "{}", 0666);
    write(dir / "big", std::string(100, 'x'), 0600);
    fs::create_symlink(dir / "own", dir / "link");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // nobody ever writes to it: a blocking open would hang
    using zelvo::PrivateRead;
    const std::pair<const char*, PrivateRead> rows[] = {
        {"own", PrivateRead::ok},         {"missing", PrivateRead::missing},     {"link", PrivateRead::notRegular},
        {"folder", PrivateRead::notRegular}, {"fifo", PrivateRead::notRegular},     {"big", PrivateRead::notRegular},
        {"shared", PrivateRead::notPrivate}, {"/dev/null", PrivateRead::notRegular},
    };
    for (const auto& [name, expected] : rows) {
        std::string text = "untouched";
        const fs::path path = name[0] == '/' ? fs::path(name) : dir / name;
        EXPECT_EQ(zelvo::readPrivateFile(path.string(), 64, text), expected) << name;
        EXPECT_EQ(text, expected == PrivateRead::ok ? "{}" : "untouched") << name;
    }
    // The plain reader follows the link and reads what it names.
    std::string text;
    EXPECT_TRUE(zelvo::readRegularFile((dir / "link").string(), 64, text));
    EXPECT_EQ(text, "{}");
    fs::remove_all(dir);
}
