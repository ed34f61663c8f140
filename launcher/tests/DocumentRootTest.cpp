// The one way into the folder of static files: request targets are reduced to
// paths below it, and only files that really lie inside it are found.
#include "server/DocumentRoot.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/zelvo-docroot-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made) path_ = made;
    }
    ~TempFolder() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string mapped(const char* target) {
    RequestPath out;
    if (!DocumentRoot::mapTarget(target, out)) return "<refused>";
    return out.relative + (out.directory ? "|dir" : "");
}

}  // namespace

TEST(DocumentRootMapTarget, ReducesTargetsToPathsBelowTheRoot) {
    EXPECT_EQ(mapped("/"), "|dir");
    EXPECT_EQ(mapped("/test.html"), "test.html");
    EXPECT_EQ(mapped("/test.html?eyJwb3J0IjoiODQ0MyJ9"), "test.html");
    EXPECT_EQ(mapped("/a/b.css#top"), "a/b.css");
    EXPECT_EQ(mapped("/sub/"), "sub|dir");
    EXPECT_EQ(mapped("//a///b"), "a/b");
    EXPECT_EQ(mapped("/./a/./b"), "a/b");
    EXPECT_EQ(mapped("/caf%C3%A9.html"), "caf\xC3\xA9.html");
    // Decoded once only: a doubly encoded dot is a plain name, not a step up.
    EXPECT_EQ(mapped("/%252e%252e/x"), "%2e%2e/x");
    EXPECT_EQ(mapped("/...."), "....");
}

TEST(DocumentRootMapTarget, RefusesEveryWayUpAndEveryMalformedTarget) {
    for (const char* target :
         {"", "*", "test.html", "http://localhost/test.html", "/..", "/../x", "/a/../../x", "/a/..",
          "/%2e%2e/x", "/%2E%2e/x", "/.%2e/x", "/%2e%2e%2fx", "/..%2fx", "/a%2f..%2f..%2fx", "/..\\x",
          "/%5c..%5cx", "/a\\b", "/x%00.html", "/%", "/%2", "/%zz", "/%g0"}) {
        EXPECT_EQ(mapped(target), "<refused>") << target;
    }
    // A NUL byte in the raw target is as bad as an encoded one.
    RequestPath out;
    EXPECT_FALSE(DocumentRoot::mapTarget(std::string_view("/a\0b", 4), out));
}

TEST(DocumentRootMimeType, UsualWebFilesAndTheRest) {
    EXPECT_STREQ(DocumentRoot::mimeType("a/test.html"), "text/html; charset=utf-8");
    EXPECT_STREQ(DocumentRoot::mimeType("INDEX.HTM"), "text/html; charset=utf-8");
    EXPECT_STREQ(DocumentRoot::mimeType("estilo.css"), "text/css; charset=utf-8");
    EXPECT_STREQ(DocumentRoot::mimeType("test.js"), "text/javascript; charset=utf-8");
    EXPECT_STREQ(DocumentRoot::mimeType("logo.svg"), "image/svg+xml");
    EXPECT_STREQ(DocumentRoot::mimeType("foto.PNG"), "image/png");
    EXPECT_STREQ(DocumentRoot::mimeType("datos.json"), "application/json");
    EXPECT_STREQ(DocumentRoot::mimeType("Makefile"), "application/octet-stream");
    EXPECT_STREQ(DocumentRoot::mimeType("archivo.html.bak"), "application/octet-stream");
}

TEST(DocumentRootFind, FindsFilesFoldersAndLinksThatStayInside) {
    TempFolder tmp;
    ASSERT_FALSE(tmp.path().empty());
    const std::string root = tmp.path() + "/html";
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "/vacia").c_str(), 0700), 0);
    writeFile(root + "/index.html", "inicio");
    writeFile(root + "/sub/index.html", "sub");
    writeFile(tmp.path() + "/secreto.txt", "secreto");
    writeFile(tmp.path() + "/html-otro", "vecino con el mismo prefijo");
    ASSERT_EQ(symlink("index.html", (root + "/dentro.html").c_str()), 0);
    ASSERT_EQ(symlink((tmp.path() + "/secreto.txt").c_str(), (root + "/fuera.txt").c_str()), 0);
    ASSERT_EQ(symlink(tmp.path().c_str(), (root + "/arriba").c_str()), 0);
    ASSERT_EQ(symlink("../html-otro", (root + "/prefijo").c_str()), 0);
    ASSERT_EQ(symlink((tmp.path() + "/secreto.txt").c_str(), (root + "/sub/index.html.link").c_str()), 0);

    DocumentRoot documents(root + "/");
    std::string path;
    std::uint64_t size = 0;
    using L = DocumentRoot::Lookup;

    EXPECT_EQ(documents.find("/", path, size), L::file);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(documents.find("/sub/", path, size), L::file);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(documents.find("/sub?x=1", path, size), L::redirect);
    EXPECT_EQ(path, "/sub/?x=1");
    // The Location always names this server: "//sub/" would be the host "sub".
    for (const char* target : {"//sub", "///sub", "/./sub", "//%73ub", "/%2Fsub"}) {
        EXPECT_EQ(documents.find(target, path, size), L::redirect) << target;
        EXPECT_EQ(path, "/sub/") << target;
    }
    EXPECT_EQ(documents.find("/vacia/", path, size), L::notFound);
    EXPECT_EQ(documents.find("/dentro.html", path, size), L::file);
    EXPECT_EQ(documents.find("/no-existe", path, size), L::notFound);
    EXPECT_EQ(documents.find("/index.html/", path, size), L::file);  // a trailing '/' on a file is harmless

    // Links out of the folder, and a neighbour whose name merely starts alike.
    EXPECT_EQ(documents.find("/fuera.txt", path, size), L::notFound);
    EXPECT_EQ(documents.find("/arriba/secreto.txt", path, size), L::notFound);
    EXPECT_EQ(documents.find("/arriba/html/index.html", path, size), L::file);  // back inside
    EXPECT_EQ(documents.find("/prefijo", path, size), L::notFound);
    EXPECT_EQ(documents.find("/sub/index.html.link", path, size), L::notFound);
    EXPECT_EQ(documents.find("/../secreto.txt", path, size), L::badRequest);
}

TEST(DocumentRootFind, AMissingFolderFindsNothing) {
    DocumentRoot none("/no/existe/html/");
    DocumentRoot unset;
    std::string path;
    std::uint64_t size = 0;
    EXPECT_EQ(none.find("/index.html", path, size), DocumentRoot::Lookup::notFound);
    EXPECT_EQ(unset.find("/", path, size), DocumentRoot::Lookup::notFound);
}
