// The Windows side of the settings: the command line as CreateProcessW gets it.
// That the child reads the same words is proved in ChildTest_win32.cpp.
#include "Config.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace quillet;
using namespace testing_support;

namespace {

TEST(WindowsSettings, TheCommandLineFollowsTheRulesTheChildSplitsItWith) {
    TempDir dir;
    const std::string java = "C:\\Program Files (x86)\\Java\\jre7\\bin\\javaw.exe";
    const std::string wrapper = dir.path() + "quillet-wrapper-1.0.dist.jar";
    EXPECT_EQ(Config(dir.path(), "C:\\w\\").commandLine(java, "C:\\q.jar").text(),
              "\"" + java + "\"  -Dlog4jpath=C:\\w\\ -cp \"C:\\q.jar;" + wrapper +
                  "\" tavrel.quillet.wrapper.StandaloneMain");
    // A folder with blanks is quoted, and its last backslash doubled so that it
    // does not escape the closing quote.
    writeFile(dir.path() + "config.ini", "[config]\njavaModifiers=-Xmx64m -Dx=\"1 2\"\n");
    EXPECT_EQ(Config(dir.path(), "C:\\Users\\José Pérez\\AppData\\Local\\Zelvo\\signing\\")
                  .commandLine(java, "C:\\Archivos de programa\\Quillet\\quillet.jar")
                  .text(),
              "\"" + java + "\" -Xmx64m \"-Dx=1 2\" \"-Dlog4jpath=C:\\Users\\José Pérez\\AppData\\Local\\Zelvo\\signing\\\\\"" +
                  " -cp \"C:\\Archivos de programa\\Quillet\\quillet.jar;" + wrapper +
                  "\" tavrel.quillet.wrapper.StandaloneMain");
}

}  // namespace
