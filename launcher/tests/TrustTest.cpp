// Who may reach the bridge: the origin rules of the installer's list, the
// remembered answers of the user, the Host names and the owner of a peer socket.
#include "TestUtil.h"
#include "trust/HostRule.h"
#include "trust/Origin.h"
#include "trust/RememberedSites.h"
#include "trust/SitePermission.h"
#include "zelvo/socket_owner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(OriginAdmits, AnEntryAdmitsItsSiteOnly) {
    const char* site = "https://tramites.example.gob";
    const char* subdomains = "https://*.example.gob";
    const std::tuple<const char*, const char*, bool> table[] = {
        {site, "https://tramites.example.gob", true},        {site, "HTTPS://Tramites.EXAMPLE.gob", true},
        {site, "https://tramites.example.gob:443", true},    {site, "http://tramites.example.gob", false},
        {site, "https://tramites.example.gob:8443", false},  {site, "https://tramites.example.gob.evil.test", false},
        {site, "https://a.tramites.example.gob", false},     {subdomains, "https://a.example.gob", true},
        {subdomains, "https://a.b.Example.gob", true},       {subdomains, "https://example.gob", false},
        {subdomains, "https://badexample.gob", false},       {subdomains, "https://a.example.gob:8443", false},
        {"http://[::1]:9000", "http://[::1]:9000", true},    {"chrome-extension://ab", "chrome-extension://ab", true},
    };
    for (const auto& [entry, origin, admitted] : table) {
        auto e = Origin::parse(entry, true);
        auto o = Origin::parse(origin);
        ASSERT_TRUE(e && o) << entry << " " << origin;
        EXPECT_EQ(e->admits(*o), admitted) << entry << " " << origin;
    }
}

TEST(OriginParse, RefusesWhatIsNotJustSchemeHostAndPort) {
    for (const char* text : {"", "null", "tramites.example.gob", "https://", "https://a.gob/", "https://a.gob:",
                             "https://a.gob:0", "https://a.gob:65536", "https://a.gob:+80", "https://a b.gob",
                             "https://user@a.gob", "https://a..gob", "https://.a.gob", "https://a.gob.",
                             "https://[::1", "https://[::1]x", "https://[zz]", "1https://a.gob", "https://a.gob\n",
                             "https://*.example.gob", "https://a.gob?x", "https://a.gob#x"})
        EXPECT_FALSE(Origin::parse(text)) << text;
    // A list entry may hold a star, but not one that widens to a top-level domain or plain http.
    for (const char* text : {"http://*.example.gob", "https://*.gob", "https://*", "https://*.*.a.gob", "https://a.*.gob"})
        EXPECT_FALSE(Origin::parse(text, true)) << text;
    EXPECT_EQ(Origin::parse("HTTP://LocalHost:80")->text(), "http://localhost");
    EXPECT_EQ(Origin::parse("https://*.A.gob:8443", true)->text(), "https://*.a.gob:8443");
}

// A folder of its own as the user's configuration folder.
class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zelvo-trust-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file() const { return (dir_ / "cfg" / "zelvo" / "permisos.json").string(); }
    void write(const std::string& text, mode_t mode = 0600) {
        fs::create_directories(dir_ / "cfg" / "zelvo");
        std::ofstream(file()) << text;
        ::chmod(file().c_str(), mode);
    }
    static std::string read(const fs::path& path) {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
    std::vector<std::string> keptAside() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / "cfg" / "zelvo"))
            if (e.path().filename().string().rfind("permisos.json.invalido-", 0) == 0) names.push_back(e.path());
        return names;
    }
    fs::path dir_;
};

using Verdict = SitePermission::Verdict;

TEST_F(Folder, ThePermissionOfEachKindOfSite) {
    LogCapture log;
    SitePermission p({{"https://a.gob", "https://*.b.gob", "http://*.c.gob", "basura", "https://*.co.uk",
                       "https://*.gob.pe", "https://*.github.io", "https://*.municipio.gob.pe"},
                      8765, "vexa", "el lector"},
                     RememberedSites(file()));
    const std::pair<const char*, Verdict> table[] = {
        {"http://localhost:8765", Verdict::allow},   {"https://127.0.0.1:8765", Verdict::allow},
        {"http://[::1]:8765", Verdict::allow},       {"http://localhost", Verdict::ask},
        {"http://localhost:8766", Verdict::ask},     {"ftp://localhost:8765", Verdict::ask},
        {"http://evil.test:8765", Verdict::ask},     {"https://a.gob", Verdict::allow},
        {"https://x.b.gob", Verdict::allow},         {"http://x.c.gob", Verdict::ask},
        {"https://x.co.uk", Verdict::ask},           {"https://x.gob.pe", Verdict::ask},
        {"https://x.github.io", Verdict::ask},       {"https://x.municipio.gob.pe", Verdict::allow},
        {"null", Verdict::refuse},                   {"javascript:alert(1)", Verdict::refuse},
        {"", Verdict::refuse},
    };
    for (const auto& [origin, verdict] : table) EXPECT_EQ(p.check(origin), verdict) << origin;
    EXPECT_TRUE(log.contains("El sitio \"http://*.c.gob\" de allowedorigins no es válido"));
    EXPECT_TRUE(log.contains("El sitio \"basura\" de allowedorigins no es válido"));
    for (const char* suffix : {"co.uk", "gob.pe", "github.io"})
        EXPECT_TRUE(log.contains(std::string("abarca el sufijo público ") + suffix)) << suffix;
    EXPECT_FALSE(log.contains("abarca el sufijo público municipio.gob.pe"));
    EXPECT_EQ(SitePermission({{"null"}, 8765, "vexa", ""}, RememberedSites(file())).check("null"), Verdict::allow);
}

TEST_F(Folder, RememberedAnswersPerSiteAndApplication) {
    SitePermission vexa({{}, 8765, "vexa", "vexa"}, RememberedSites(file()));
    SitePermission quillet({{}, 8765, "quillet", "quillet"}, RememberedSites(file()));
    vexa.decided("https://uno.test", true, false);  // not remembered
    vexa.decided("null", true, true);               // never remembered
    EXPECT_FALSE(fs::exists(file()));
    vexa.decided("https://uno.test", true, true);
    vexa.decided("https://DOS.test:443", false, true);
    EXPECT_EQ(vexa.check("https://uno.test"), Verdict::allow);
    EXPECT_EQ(vexa.check("https://dos.test"), Verdict::refusedBefore);
    EXPECT_EQ(quillet.check("https://uno.test"), Verdict::ask);
    EXPECT_EQ(vexa.check("null"), Verdict::refuse);
    // The registry names applications in any case.
    EXPECT_EQ(SitePermission({{}, 8765, "VEXA", ""}, RememberedSites(file())).check("https://dos.test"),
              Verdict::refusedBefore);

    EXPECT_EQ(fs::status(file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(read(file()).find(R"({"origin": "https://dos.test", "application": "vexa", "decision": "refuse"})"),
              std::string::npos)
        << read(file());
    // A later answer replaces the earlier one, whatever case the application was written in.
    RememberedSites(file()).remember("https://dos.test", "Vexa", true);
    EXPECT_EQ(RememberedSites(file()).find("https://dos.test", "vexa"), RememberedSites::Decision::allow);
    EXPECT_EQ(read(file()).find("\"vexa\", \"decision\": \"refuse\""), std::string::npos) << read(file());
}

TEST_F(Folder, OneQuestionARunAndItsAnswerHoldsForTheSite) {
    SitePermission p({{"https://listado.gob"}, 8765, "vexa", "vexa"}, RememberedSites(file()));
    EXPECT_EQ(p.check("https://uno.test"), Verdict::ask);
    p.decided("https://UNO.test:443", true, false);
    const std::pair<const char*, Verdict> afterwards[] = {
        {"https://uno.test", Verdict::allow},      // the user's answer, for this run
        {"https://otro.test", Verdict::refuse},    // not asked again
        {"http://uno.test", Verdict::refuse},      // another site
        {"https://listado.gob", Verdict::allow},   {"http://localhost:8765", Verdict::allow},
    };
    for (const auto& [origin, verdict] : afterwards) EXPECT_EQ(p.check(origin), verdict) << origin;
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(Folder, AFileThatCannotBeTrustedIsIgnoredAndKeptAside) {
    std::string deep;  // deep enough to overflow the parser's stack
    for (int i = 0; i < 100000; ++i) deep += R"({"a":)";
    deep += "1" + std::string(100000, '}');
    const std::pair<const char*, mode_t> bad[] = {
        {"{no es json", 0600},
        {deep.c_str(), 0600},
        {R"({"sites": {}})", 0600},
        {R"({"sites": [{"origin": "https://x.test", "application": "vexa", "decision": "quizá"}]})", 0600},
        {R"({"sites": [{"origin": "https://x.test", "application": "vexa", "decision": "allow"}]})", 0622},
    };
    for (const auto& [text, mode] : bad) {
        LogCapture log;
        write(text, mode);
        RememberedSites sites(file());
        EXPECT_EQ(sites.find("https://x.test", "vexa"), RememberedSites::Decision::none) << text;
        EXPECT_TRUE(log.contains("RememberedSites::load")) << text;
        ASSERT_TRUE(sites.remember("https://y.test", "vexa", true)) << text;
        EXPECT_EQ(sites.find("https://y.test", "vexa"), RememberedSites::Decision::allow) << text;
        auto aside = keptAside();
        ASSERT_EQ(aside.size(), 1u) << text;
        EXPECT_EQ(read(aside[0]), text);
        fs::remove(aside[0]);
    }
}

TEST(HostRuleTest, LoopbackNamesAndTheBindAddressWithOrWithoutPort) {
    HostRule rule("192.168.1.20");
    for (const char* host : {"localhost", "LOCALHOST:8765", "127.0.0.1", "127.0.0.1:80", "[::1]", "[::1]:8765",
                             "192.168.1.20:8765"})
        EXPECT_TRUE(rule.admits(host)) << host;
    for (const char* host : {"", "evil.test", "evil.test:8765", "localhost.evil.test", "localhost:x", "localhost:",
                             "localhost:123456", "127.0.0.2", "[::1", "[::1]8765", "::1", "192.168.1.21"})
        EXPECT_FALSE(rule.admits(host)) << host;
    EXPECT_TRUE(HostRule("::1").admits("[::1]:1"));
    EXPECT_TRUE(HostRule("fe80::A").admits("[FE80::a]"));
}

TEST(SocketOwnerTest, FindsTheOwnerOfTheClientsSide) {
    // Listener 127.0.0.1:8765 (0x223D); a client of uid 1000 at 127.0.0.1:40000 (0x9C40).
    std::istringstream v4(
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:223D 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1 1\n"
        "   1: 0100007F:223D 0100007F:9C40 01 00000000:00000000 00:00000000 00000000     0        0 2 1\n"
        "   2: 0100007F:9C40 0100007F:223D 01 00000000:00000000 00:00000000 00000000  1000        0 3 1\n");
    using boost::asio::ip::make_address;
    using Endpoint = zelvo::SocketOwner::Endpoint;
    const Endpoint server(make_address("127.0.0.1"), 8765);
    EXPECT_EQ(zelvo::SocketOwner::find(v4, Endpoint(make_address("127.0.0.1"), 40000), server), 1000u);
    std::istringstream v6(
        "   0: 00000000000000000000000001000000:9C40 00000000000000000000000001000000:223D 01 0:0 0:0 0 65534 0 3 1\n");
    const Endpoint server6(make_address("::1"), 8765);
    EXPECT_EQ(zelvo::SocketOwner::find(v6, Endpoint(make_address("::1"), 40000), server6), 65534u);
}

}  // namespace
