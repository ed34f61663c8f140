// The POSIX side of the settings: a FIFO in config.ini's place, and the text of
// the command line as the log shows it.
#include "Config.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quillet;
using namespace testing_support;

namespace {

TEST(PosixSettings, AFifoInPlaceOfConfigIniIsNoFileAndNeverWaitedOn) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir.path() + "config.ini").c_str(), 0600), 0);
    Config c(dir.path(), dir.path());
    EXPECT_EQ(c.wrapperClass(), Config::kDefaultWrapperClass);
    EXPECT_EQ(c.deleteFilesAfterSigning(), 1);
}

TEST(PosixSettings, TheCommandLineTextQuotesTheProgramTheClassPathAndAFolderWithBlanks) {
    TempDir dir;
    EXPECT_EQ(Config(dir.path(), "/w/").commandLine("java", "/q.jar").text(),
              "\"java\"  -Dlog4jpath=/w/ -cp \"/q.jar:" + dir.path() +
                  "quillet-wrapper-1.0.dist.jar\" tavrel.quillet.wrapper.StandaloneMain");
    std::string text = Config(dir.path(), "/home/u/.local/state/mi carpeta/").commandLine("java", "/q.jar").text();
    EXPECT_NE(text.find(" \"-Dlog4jpath=/home/u/.local/state/mi carpeta/\" -cp "), std::string::npos) << text;
}

}  // namespace
