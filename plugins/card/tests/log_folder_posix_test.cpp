// Linux only: there the environment (HOME, XDG_RUNTIME_DIR, TMPDIR) and the
// permission bits decide where the log goes. On Windows the profile folder
// comes from the system, not from the environment, so a test cannot move it;
// card_plugin_tests checks the log in the profile's .vexatools there.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "TempFolder.h"
#include "TestUtil.h"
#include "app/Global.h"
#include "zelvo/log.h"

// A home that cannot hold ~/.vexatools: the log goes to a folder of the user's
// alone (made with mode 0700), never to one someone else may have made first.
TEST(Global, LogFolderWithoutAUsableHome) {
    TempFolder dir("vexa-logs-");
    ASSERT_FALSE(dir.path().empty());
    const std::string base = dir.path(), own = dir / ("vexatools-" + std::to_string(geteuid())),
                      home = zelvo::homeDir();
    std::ofstream(dir / "home");
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[&] { zelvo::setEnv("XDG_RUNTIME_DIR", base); }, base + "/vexatools/"},
        {[&] { zelvo::unsetEnv("XDG_RUNTIME_DIR"); }, own + "/"},
        {[&] { EXPECT_EQ(0, rmdir(own.c_str()) + symlink(base.c_str(), own.c_str())); }, zelvo::programDir()},
        {[&] { EXPECT_EQ(0, unlink(own.c_str()) + mkdir(own.c_str(), 0755)); }, zelvo::programDir()},
    };
    zelvo::setEnv("HOME", dir / "home");
    zelvo::setEnv("TMPDIR", base);
    for (const auto& [prepare, folder] : rows) {
        prepare();
        struct stat st {};
        EXPECT_EQ(folder + zelvo::log::dayFileName(), Global::logFilePath());
        EXPECT_TRUE(folder == zelvo::programDir() || (stat(folder.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700));
    }
    zelvo::unsetEnv("TMPDIR");
    zelvo::setEnv("HOME", home);
}
