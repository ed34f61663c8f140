// The one way into the folder of static files: request targets are reduced to
// paths below it, and only files that really lie inside it are found.
#include "TestUtil.h"
#include "server/DocumentRoot.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace {

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

// HTML, CSS, JavaScript, PNG and unknown types are served end to end.
TEST(DocumentRootMimeType, UsualWebFilesAndTheRest) {
    for (auto [name, type] : {std::pair{"INDEX.HTM", "text/html; charset=utf-8"}, {"logo.svg", "image/svg+xml"},
                              {"datos.json", "application/json"}, {"Makefile", "application/octet-stream"},
                              {"archivo.html.bak", "application/octet-stream"}})
        EXPECT_STREQ(DocumentRoot::mimeType(name), type) << name;
}

// Serving files and folders, and refusing links out of the folder, are proved
// end to end; here the cases that need a link of their own.
TEST(DocumentRootFind, OnlyWhatReallyLiesInsideIsFound) {
    TempDir tmp;
    const fs::path root = tmp / "html";
    writeFile(root / "index.html", "inicio");
    writeFile(tmp / "secreto.txt", "secreto");
    writeFile(tmp / "html-otro", "vecino con el mismo prefijo");
    for (const auto& [target, link] : {std::pair<fs::path, std::string>{tmp.path(), "arriba"}, {"../html-otro", "prefijo"},
                                       {tmp / "secreto.txt", "index.html.link"}})
        ASSERT_EQ(symlink(target.c_str(), (root / link).c_str()), 0) << link;
    DocumentRoot documents(root.string() + "/");
    using L = DocumentRoot::Lookup;
    for (auto [target, lookup] : {std::pair{"/arriba/html/index.html", L::file}, {"/index.html/", L::file},
                                  {"/prefijo", L::notFound}, {"/index.html.link", L::notFound},
                                  {"/arriba/secreto.txt", L::notFound}}) {
        std::string path;
        std::uint64_t size = 0;
        EXPECT_EQ(documents.find(target, path, size), lookup) << target;
    }
    // The Location always names this server: "//sub/" would be the host "sub".
    writeFile(root / "sub" / "index.html", "sub");
    std::string path;
    std::uint64_t size = 0;
    for (const char* target : {"//sub", "///sub", "/./sub", "//%73ub", "/%2Fsub"}) {
        EXPECT_EQ(documents.find(target, path, size), L::redirect) << target;
        EXPECT_EQ(path, "/sub/") << target;
    }
    EXPECT_EQ(documents.find("/sub?x=1", path, size), L::redirect);
    EXPECT_EQ(path, "/sub/?x=1");
}

TEST(DocumentRootFind, AMissingFolderFindsNothing) {
    using L = DocumentRoot::Lookup;
    std::string path;
    std::uint64_t size = 0;
    EXPECT_EQ(DocumentRoot("/no/existe/html/").find("/index.html", path, size), L::notFound);
    EXPECT_EQ(DocumentRoot().find("/", path, size), L::notFound);
}
