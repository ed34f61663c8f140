#include "zelvo/file_lock.h"
#include "zelvo/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

TEST(Paths, ProgramDirAndStateDir) {
    EXPECT_EQ(zelvo::programDir().back(), '/');
    EXPECT_TRUE(std::filesystem::exists(zelvo::programPath()));
    auto base = std::filesystem::temp_directory_path() / ("zelvo-state-" + std::to_string(::getpid()));
    setenv("XDG_STATE_HOME", base.c_str(), 1);
    std::string dir = zelvo::userStateDir("signing");
    EXPECT_EQ(dir, base.string() + "/zelvo/signing/");
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(zelvo::writableDirOr("/nonexistent/zelvo", "signing"), dir) << "a folder the process cannot write in falls back";
    EXPECT_EQ(zelvo::writableDirOr("/usr/lib", "signing"), dir) << "no program writes under /usr, not even root";
    EXPECT_EQ(zelvo::writableDirOr(base.string(), "signing"), base.string() + "/");
    unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(base);
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

TEST(FileLock, SecondHolderIsRefused) {
    auto path = std::filesystem::temp_directory_path() / ("zelvo-lock-" + std::to_string(::getpid()));
    {
        zelvo::FileLock first(path.string());
        ASSERT_TRUE(first.acquired());
        zelvo::FileLock second(path.string());
        EXPECT_FALSE(second.acquired());
    }
    zelvo::FileLock again(path.string());
    EXPECT_TRUE(again.acquired());
    std::filesystem::remove(path);
}
