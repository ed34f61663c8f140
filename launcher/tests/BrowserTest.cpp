// The browser choice's own rules. The list from the registry and the desktop
// entries, the dialog closed or unable to show itself, and the publish and test
// modes that use it, run end to end.
#include "TestUtil.h"
#include "core/JsonReader.h"
#include "modes/BrowserDialog.h"
#include "zelvo/browsers.h"
#include "modes/SetCookiesRunnable.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

namespace {
using Words = std::vector<std::string>;
}  // namespace

TEST(BrowserCommand, TheUrlIsOneArgumentWhateverItHolds) {
    const std::string url = "http://x/?a=1&b=\"2\" $(rm -rf ~);`id`|'q'";
    const std::pair<const char*, Words> rows[] = {
        {"/usr/bin/nav", {"/usr/bin/nav", url}},
        {"nav --new-window %U --x", {"nav", "--new-window", url, "--x"}},
        {"nav %u %f", {"nav", url}},  // one URL only
        {"nav %i %c --p=100%% %k", {"nav", "--p=100%", url}},
        {"\"/opt/Mi Nav/nav\" \"--perfil=a \\\"b\\\" \\$c\"  %u", {"/opt/Mi Nav/nav", "--perfil=a \"b\" $c", url}},
        {"\"C:\\Program Files\\nav.exe\"", {"C:\\Program Files\\nav.exe", url}},  // other backslashes stay
        {"nav \"\" %u", {"nav", "", url}},                                        // an empty quoted word
        {"\"nav sin cerrar %u", {}},
        {"   ", {}},
    };
    for (const auto& [command, words] : rows) EXPECT_EQ(zelvo::BrowserCommand::argumentsFor(command, url), words) << command;
}

TEST(DesktopEntries, OnlyVisibleWebBrowsersFromTheMainGroup) {
    BrowserEntry e;
    ASSERT_TRUE(zelvo::DesktopEntries::parseBrowser(
        "# c\n[Desktop Entry]\nName=Mi\\sNav\nName[es]=Otro\nType=Application\nCategories=WebBrowser\n"
        "Exec=\"/opt/a b/nav\" \\\\$x %U\n[Desktop Action new]\nName=Ventana\nExec=nav --new\n",
        e));
    EXPECT_EQ(e.name, "Mi Nav");
    EXPECT_EQ(e.command, "\"/opt/a b/nav\" \\$x %U");

    const std::string base = "[Desktop Entry]\nType=Application\nName=N\nExec=n\n";
    for (const std::string& refused :
         {base + "Categories=Network;WebBrowserX;\n", base + "Categories=WebBrowser;\nHidden=true\n",
          base + "Categories=WebBrowser;\nNoDisplay=true\n",
          std::string("[Desktop Entry]\nType=Link\nName=N\nExec=n\nCategories=WebBrowser\n"),
          std::string("[Otro]\nType=Application\nName=N\nExec=n\nCategories=WebBrowser\n"),
          std::string("[Desktop Entry]\nType=Application\nName=N\nCategories=WebBrowser\n"), std::string("\0\xff\n[", 4)})
        EXPECT_FALSE(zelvo::DesktopEntries::parseBrowser(refused, e)) << refused;
}

TEST(BrowserDialog, TheDialogsAnswerDecidesWhichCallbackRuns) {
    TempDir dir;
    LogCapture log;
    writeFile(dir / "test.reg", "REGEDIT4\n");
    writeFile(dir / "user/applications/zorro.desktop",
              "[Desktop Entry]\nType=Application\nName=Zorro\nExec=/opt/zorro/bin/zorro %u\nCategories=WebBrowser;\n");
    setenv("ZELVO_REGISTRY", (dir / "test.reg").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "user").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir / "system").c_str(), 1);
    setenv("ZELVO_DIALOG", (dir / "dialog").c_str(), 1);
    // The dialog's answer (a printf format), whether it shows the secure box, what follows.
    const std::tuple<const char*, bool, Words> rows[] = {
        {"Zorro\\n1\\n", true, {"execute /opt/zorro/bin/zorro %u 1", "close"}},
        {"Zorro\\n1\\n", false, {"execute /opt/zorro/bin/zorro %u 0", "close"}},  // no box, never secure
        {"Zorro", true, {"close"}},
        {"Zorro\\n2\\n", true, {"close"}},
        {"Zorro\\n1\\nmas\\n", true, {"close"}},
        {"", true, {"close"}},
    };
    for (const auto& [output, secureBox, expected] : rows) {
        // The dialog program answers and keeps its arguments.
        writeFile(dir / "dialog", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + (dir / "args").string() + "'\nprintf '" +
                                      output + "'\n");
        fs::permissions(dir / "dialog", fs::perms::owner_all);
        Words events;
        BrowserDialog::showBrowserDialog(
            "Probar Componente - Zelvo", secureBox,
            [&](const std::string& command, bool secure) {
                events.push_back("execute " + command + " " + (secure ? "1" : "0"));
            },
            [&] { events.push_back("close"); });
        EXPECT_EQ(events, expected) << output;
        EXPECT_EQ(readFile(dir / "args"), std::string("browser\n--title\nProbar Componente - Zelvo\n") +
                                              (secureBox ? "" : "--hide-secure\n") + "--\nZorro\n");
    }
    EXPECT_TRUE(log.contains("La opcion use_ssl es 1"));
    EXPECT_EQ(log.count("Respuesta no válida del diálogo de navegadores"), 4u);
    setenv("ZELVO_DIALOG", (dir / "no-existe").c_str(), 1);
    BrowserDialog::showBrowserDialog("T", true, [](const std::string&, bool) { ADD_FAILURE(); }, [] { ADD_FAILURE(); });
    EXPECT_TRUE(log.contains("No se pudo mostrar el diálogo de navegadores"));
    for (const char* v : {"ZELVO_REGISTRY", "XDG_DATA_HOME", "XDG_DATA_DIRS", "ZELVO_DIALOG"}) unsetenv(v);
}

TEST(SetCookiesRunnable, OnlyASetRequestWithAnObjectAndAConfiguration) {
    LogCapture log;
    auto config = JsonReader::getInstance("{}");
    auto create = [](const Words& words, const JsonReader* reader) {
        Argv args(words);
        return SetCookiesRunnable::create(args.argc(), args.argv(), reader);
    };
    const std::string set = "zelvo://set/";
    EXPECT_TRUE(create({"l", set + zelvo::base64Encode("{}") + "/"}, config.get()));
    EXPECT_FALSE(create({"l", set + zelvo::base64Encode("[]")}, config.get()));
    EXPECT_TRUE(log.contains("No se obtuvo la información de los parámetros web"));
    EXPECT_FALSE(create({"l", set + zelvo::base64Encode("{}")}, nullptr));
    EXPECT_TRUE(log.contains("No se obtuvo la información de la configuración de la aplicación"));
    EXPECT_FALSE(create({"l", set + zelvo::base64Encode("{}"), "x"}, config.get()));
    EXPECT_FALSE(create({"l", "zelvo://test/" + zelvo::base64Encode("{}")}, config.get()));
}
