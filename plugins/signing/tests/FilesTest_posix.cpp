// New files on POSIX: never written through a link, mode 0600.
#include "QuilletInput.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quillet;
using namespace testing_support;

namespace {

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

}  // namespace
