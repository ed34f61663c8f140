#include "zelvo/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
