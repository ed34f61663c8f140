// New files on Windows: never opened where a file or folder has the name, and
// private to the user (owner and DACL) whatever the folder's own entries.
#include "QuilletInput.h"
#include "TestSupport.h"

#include "zelvo/private_file.h"

#include <gtest/gtest.h>

using namespace quillet;
using namespace testing_support;

namespace {

// Names compare without case here: with one random character there are 36
// names, and 35 taken (by files and a folder) leave "y" (or "Y"), which must be
// the one created.
TEST(WindowsFiles, FilesAreCreatedNewPrivateAndATakenNameIsDrawnAgain) {
    TempDir dir;
    for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWX")) writeFile(dir.path() + c + ".pdf", "existente");
    ASSERT_TRUE(zelvo::makeDirs(dir.path() + "z.pdf", 0700));
    std::string path = writeNewFile(dir.path(), 1, ".pdf", "%PDF");
    EXPECT_TRUE(path == dir.path() + "y.pdf" || path == dir.path() + "Y.pdf") << path;
    std::string text;
    EXPECT_EQ(zelvo::readPrivateFile(path, 100, text), zelvo::PrivateRead::ok);
    EXPECT_EQ(text, "%PDF");
    EXPECT_EQ(readFile(dir.path() + "x.pdf"), "existente");
    EXPECT_EQ(failureOf([&] { writeNewFile(dir.path(), 1, ".pdf", "x"); }),
              "no se pudo crear un archivo nuevo en " + dir.path());
    EXPECT_TRUE(zelvo::removeFile(path));
    EXPECT_FALSE(zelvo::removeFile(path));
}

}  // namespace
