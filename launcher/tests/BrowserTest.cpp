#include "Argv.h"
#include "LogCapture.h"
#include "core/JsonReader.h"
#include "modes/BrowserCommand.h"
#include "modes/BrowserDialog.h"
#include "modes/DesktopEntries.h"
#include "modes/SetCookiesRunnable.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Words = std::vector<std::string>;

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A private registry, desktop folders and dialog program for one test.
class BrowserFolders : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zelvo-browser-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "system" / "applications");
        setenv("ZELVO_REGISTRY", (dir_ / "test.reg").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "user").c_str(), 1);
        setenv("XDG_DATA_DIRS", (dir_ / "system").c_str(), 1);
        writeFile(dir_ / "test.reg", "REGEDIT4\n");
    }
    void TearDown() override {
        for (const char* v : {"ZELVO_REGISTRY", "XDG_DATA_HOME", "XDG_DATA_DIRS", "ZELVO_DIALOG"}) unsetenv(v);
        fs::remove_all(dir_);
    }
    // The dialog program answers `exitCode` and `output`, and keeps its arguments.
    void dialogAnswers(int exitCode, const std::string& output) {
        writeFile(dir_ / "dialog", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                       (dir_ / "args").string() + "'\nprintf '" + output + "'\nexit " +
                                       std::to_string(exitCode) + "\n");
        fs::permissions(dir_ / "dialog", fs::perms::owner_all);
        setenv("ZELVO_DIALOG", (dir_ / "dialog").c_str(), 1);
    }
    Words dialogArgs() const {
        std::ifstream in(dir_ / "args");
        Words words;
        for (std::string line; std::getline(in, line);) words.push_back(line);
        return words;
    }
    fs::path dir_;
};

const char kFirefoxEntry[] = "[Desktop Entry]\nType=Application\nName=Zorro\nExec=/opt/zorro/bin/zorro %u\n"
                             "Categories=Network;WebBrowser;\n";

}  // namespace

TEST(BrowserCommand, TheUrlIsOneArgumentWhateverItHolds) {
    const std::string url = "http://x/?a=1&b=\"2\" $(rm -rf ~);`id`|'q'";
    EXPECT_EQ(BrowserCommand::argumentsFor("/usr/bin/nav", url), (Words{"/usr/bin/nav", url}));
    EXPECT_EQ(BrowserCommand::argumentsFor("nav --new-window %U --x", url), (Words{"nav", "--new-window", url, "--x"}));
    EXPECT_EQ(BrowserCommand::argumentsFor("nav %u %f", url), (Words{"nav", url})) << "one URL only";
    EXPECT_EQ(BrowserCommand::argumentsFor("nav %i %c --p=100%% %k", url), (Words{"nav", "--p=100%", url}));
    EXPECT_EQ(BrowserCommand::argumentsFor("\"/opt/Mi Nav/nav\" \"--perfil=a \\\"b\\\" \\$c\"  %u", url),
              (Words{"/opt/Mi Nav/nav", "--perfil=a \"b\" $c", url}));
    EXPECT_EQ(BrowserCommand::argumentsFor("\"C:\\Program Files\\nav.exe\"", url),
              (Words{"C:\\Program Files\\nav.exe", url}))
        << "other backslashes stay";
    EXPECT_EQ(BrowserCommand::argumentsFor("nav \"\" %u", url), (Words{"nav", "", url})) << "an empty quoted word";
    EXPECT_TRUE(BrowserCommand::argumentsFor("\"nav sin cerrar %u", url).empty());
    EXPECT_TRUE(BrowserCommand::argumentsFor("   ", url).empty());
}

TEST(DesktopEntries, OnlyVisibleWebBrowsersFromTheMainGroup) {
    BrowserEntry e;
    ASSERT_TRUE(DesktopEntries::parseBrowser(kFirefoxEntry, e));
    EXPECT_EQ(e.name, "Zorro");
    EXPECT_EQ(e.command, "/opt/zorro/bin/zorro %u");
    ASSERT_TRUE(DesktopEntries::parseBrowser(
        "# c\n[Desktop Entry]\nName=Mi\\sNav\nName[es]=Otro\nType=Application\nCategories=WebBrowser\n"
        "Exec=\"/opt/a b/nav\" \\\\$x %U\n[Desktop Action new]\nName=Ventana\nExec=nav --new\n",
        e));
    EXPECT_EQ(e.name, "Mi Nav");
    EXPECT_EQ(e.command, "\"/opt/a b/nav\" \\$x %U");

    const std::string base = "[Desktop Entry]\nType=Application\nName=N\nExec=n\n";
    EXPECT_FALSE(DesktopEntries::parseBrowser(base + "Categories=Network;WebBrowserX;\n", e));
    EXPECT_FALSE(DesktopEntries::parseBrowser(base + "Categories=WebBrowser;\nHidden=true\n", e));
    EXPECT_FALSE(DesktopEntries::parseBrowser(base + "Categories=WebBrowser;\nNoDisplay=true\n", e));
    EXPECT_FALSE(DesktopEntries::parseBrowser("[Desktop Entry]\nType=Link\nName=N\nExec=n\nCategories=WebBrowser\n", e));
    EXPECT_FALSE(DesktopEntries::parseBrowser("[Otro]\nType=Application\nName=N\nExec=n\nCategories=WebBrowser\n", e));
    EXPECT_FALSE(DesktopEntries::parseBrowser("[Desktop Entry]\nType=Application\nName=N\nCategories=WebBrowser\n", e));
    EXPECT_FALSE(DesktopEntries::parseBrowser(std::string("\0\xff\n[", 4), e));
}

TEST_F(BrowserFolders, RegistryBrowsersComeFirstThenTheUserAndTheSystemEntries) {
    writeFile(dir_ / "test.reg",
              "REGEDIT4\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\B]\n@=\"Beta\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\B\\shell\\open\\command]\n@=\"/b\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\SinOrden]\n@=\"Sin orden\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\SinNombre\\shell\\open\\command]\n@=\"/x\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\Largo]\n@=\"Largo\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\Largo\\shell\\open\\command]\n@=\"/" +
                  std::string(1100, 'l') + "\"\n");
    writeFile(dir_ / "user" / "applications" / "zorro.desktop", kFirefoxEntry);
    // The user's file of the same name hides the system's.
    writeFile(dir_ / "system" / "applications" / "zorro.desktop",
              "[Desktop Entry]\nType=Application\nName=Zorro viejo\nExec=/old\nCategories=WebBrowser;\n");
    writeFile(dir_ / "system" / "applications" / "a.desktop",
              "[Desktop Entry]\nType=Application\nName=Alfa\nExec=/a\nCategories=WebBrowser;\n");
    writeFile(dir_ / "system" / "applications" / "editor.desktop",
              "[Desktop Entry]\nType=Application\nName=Editor\nExec=/e\nCategories=Utility;\n");

    auto browsers = BrowserDialog::getInstalledBrowsers();
    std::vector<std::string> names;
    for (auto& b : browsers) names.push_back(b.name);
    EXPECT_EQ(names, (Words{"Beta", "Zorro", "Alfa"}));
    EXPECT_EQ(BrowserDialog::getSelectedBrowserCommand(browsers, "Zorro"), "/opt/zorro/bin/zorro %u");
    EXPECT_EQ(BrowserDialog::getSelectedBrowserCommand(browsers, "Default browser"), "");
    EXPECT_EQ(BrowserDialog::getSelectedBrowserCommand(browsers, "zorro"), "") << "names compare exactly";
    EXPECT_EQ(BrowserDialog::getSelectedBrowserCommand({{"X", "/1"}, {"X", "/2"}}, "X"), "/1");
}

TEST_F(BrowserFolders, TheDialogsAnswerDecidesWhichCallbackRuns) {
    LogCapture log;
    writeFile(dir_ / "user" / "applications" / "zorro.desktop", kFirefoxEntry);
    std::vector<std::string> events;
    auto execute = [&](const std::string& command, bool secure) {
        events.push_back("execute " + command + " " + (secure ? "1" : "0"));
    };
    auto close = [&] { events.push_back("close"); };

    dialogAnswers(0, "Zorro\\n1\\n");
    BrowserDialog::showBrowserDialog("Probar Componente - Zelvo", true, execute, close);
    EXPECT_EQ(events, (Words{"execute /opt/zorro/bin/zorro %u 1", "close"}));
    EXPECT_EQ(dialogArgs(), (Words{"browser", "--title", "Probar Componente - Zelvo", "--", "Zorro"}));
    EXPECT_TRUE(log.contains("La opcion use_ssl es 1"));

    events.clear();
    BrowserDialog::showBrowserDialog("Publicar Propiedades - Zelvo", false, execute, close);
    EXPECT_EQ(events, (Words{"execute /opt/zorro/bin/zorro %u 0", "close"})) << "no box, never secure";
    EXPECT_EQ(dialogArgs(), (Words{"browser", "--title", "Publicar Propiedades - Zelvo", "--hide-secure", "--", "Zorro"}));

    events.clear();
    dialogAnswers(1, "");
    BrowserDialog::showBrowserDialog("T", true, execute, close);
    EXPECT_EQ(events, (Words{"close"}));

    for (const char* bad : {"Zorro", "Zorro\\n2\\n", "Zorro\\n1\\nmas\\n", ""}) {
        events.clear();
        dialogAnswers(0, bad);
        BrowserDialog::showBrowserDialog("T", true, execute, close);
        EXPECT_EQ(events, (Words{"close"})) << bad;
    }
    EXPECT_TRUE(log.contains("Respuesta no válida del diálogo de navegadores"));

    events.clear();
    dialogAnswers(3, "");
    BrowserDialog::showBrowserDialog("T", true, execute, close);
    EXPECT_TRUE(events.empty());
    setenv("ZELVO_DIALOG", (dir_ / "no-existe").c_str(), 1);
    BrowserDialog::showBrowserDialog("T", true, execute, close);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(log.count("No se pudo mostrar el diálogo de navegadores"), 2u);
}

TEST(SetCookiesRunnable, PropertiesAndRequestRules) {
    LogCapture log;
    auto make = [](const std::string& config, const std::string& payload, const std::string& tail = "") {
        auto reader = JsonReader::getInstance(config);
        Argv args({"launcher", "zelvo://set/" + zelvo::base64Encode(payload) + tail});
        return SetCookiesRunnable::create(args.argc(), args.argv(), reader.get());
    };
    auto tls = make(R"({"port":"8443","ssl":{"enabled":"1"}})", R"({"url":"https://a.b/p?x=1"})", "/");
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->target(),
              "https://a.b/p?x=1?" + zelvo::base64Encode(R"({"zelvo_port":"8443","zelvo_ssl_enabled":"1"})"));
    auto plain = make(R"({"port":8443,"ssl":{"enabled":"0"}})", R"({"otro":"x"})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->target(), "?" + zelvo::base64Encode(R"({"zelvo_port":"0"})"));

    EXPECT_FALSE(make("{}", "[]"));
    EXPECT_TRUE(log.contains("No se obtuvo la información de los parámetros web"));
    Argv noConfig({"launcher", "zelvo://set/" + zelvo::base64Encode("{}")});
    EXPECT_FALSE(SetCookiesRunnable::create(noConfig.argc(), noConfig.argv(), nullptr));
    EXPECT_TRUE(log.contains("No se obtuvo la información de la configuración de la aplicación"));
    Argv extra({"launcher", "zelvo://set/" + zelvo::base64Encode("{}"), "x"});
    auto config = JsonReader::getInstance("{}");
    EXPECT_FALSE(SetCookiesRunnable::create(extra.argc(), extra.argv(), config.get()));
    Argv other({"launcher", "zelvo://test/" + zelvo::base64Encode("{}")});
    EXPECT_FALSE(SetCookiesRunnable::create(other.argc(), other.argv(), config.get()));
}
