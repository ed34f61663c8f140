// vexa-tools loaded as the launcher loads it: what it exports, what it does
// with binary messages, and where it logs. Commands and replies, and a command
// that comes before onConnect, are exercised end to end through the launcher.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>

#include "TempFolder.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"
#include "zelvo/plugin_api.h"
#include "zelvo/shared_library.h"

namespace {

int g_texts = 0, g_binaries = 0;  // replies sent; every call comes back before the test reads them
void textSender(const char*) { ++g_texts; }
void binarySender(const char*, int) { ++g_binaries; }

// The module as the build stages it: stage/plugins/ beside this program's tests/.
std::string modulePath() {
    const std::string sep(1, zelvo::kPathSeparator);
    return zelvo::programDir() + ".." + sep + "stage" + sep + "plugins" + sep + VEXA_TOOLS_NAME;
}

// The module, opened once with HOME in a folder of the test's own (Linux; on
// Windows the profile folder comes from the system and the log goes there).
struct Module {
    TempFolder home{"vexa-home-"};
    std::unique_ptr<zelvo::SharedLibrary> library;
    zelvo::LoadError error;
    template <typename F>
    F get(const char* name) const {
        zelvo::LoadError ignored;
        return reinterpret_cast<F>(library->symbol(name, ignored));
    }

    Module() {
        if (home.path().empty()) return;
        zelvo::setEnv("HOME", home.path());
        zelvo::setEnv("PCSCLITE_CSOCK_NAME", home / "no-pcscd.comm");  // never the machine's own pcscd
        library = zelvo::SharedLibrary::open(modulePath(), false, error);
    }

    // One connection: onConnect on a thread of its own, as the host runs it, then `page`.
    bool connection(void (*page)(const Module&)) const {
        get<ZelvoRegisterSendMessageFunction>("registerSendMessageFunction")(textSender, binarySender);
        auto running = std::async(std::launch::async, get<ZelvoOnConnect>("onConnect"));
        page(*this);
        if (running.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return true;
        get<ZelvoOnClose>("onClose")();  // release it so the test ends
        return false;
    }
};

const Module& module() {
    static Module m;
    return m;
}

}  // namespace

TEST(Plugin, ExportsOnlyTheContract) {
    ASSERT_NE(nullptr, module().library) << modulePath() << ": " << module().error.text;
    for (const char* name :
         {"registerSendMessageFunction", "onConnect", "onTextMessage", "onBinaryMessage", "onClose", "test"})
        EXPECT_NE(nullptr, module().get<void*>(name)) << name;
    for (const char* internal : {"_ZN15VexaApplication8doActionEPKc", "_ZN9mrtdutils4Util3padERKSt6vectorIhSaIhEE",
                                 "_ZN5zelvo3log4initERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEib"})
        EXPECT_EQ(nullptr, module().get<void*>(internal)) << internal;
}

TEST(Plugin, BinaryMessagesAreIgnoredAndTheHostsCloseEndsTheConnection) {
    ASSERT_NE(nullptr, module().library);
    g_texts = g_binaries = 0;
    EXPECT_TRUE(module().connection([](const Module& m) {
        m.get<ZelvoOnBinaryMessage>("onBinaryMessage")("abc", 3);
        m.get<ZelvoOnClose>("onClose")();
    }));
    EXPECT_EQ(0, g_texts + g_binaries);
}

TEST(Plugin, LogsToAPrivateFolderOfTheUser) {
    ASSERT_NE(nullptr, module().library);
    g_texts = 0;
    EXPECT_TRUE(module().connection([](const Module& m) { m.get<ZelvoOnTextMessage>("onTextMessage")("READ"); }));
    EXPECT_EQ(1, g_texts);
    const std::string folder = zelvo::withSeparator(zelvo::homeDir()) + ".vexatools";
    std::stringstream text;
    text << std::ifstream(std::filesystem::u8path(zelvo::withSeparator(folder) + zelvo::log::dayFileName())).rdbuf();
    const std::string log = text.str();
    EXPECT_EQ(0u, log.find("\xEF\xBB\xBF"));
    for (const char* line : {"Inicializando aplicación", "[onTextMessage@", "Mensaje de texto recibido: READ",
                             "[VexaApplication::doAction@", "[] Comando READ desconocido", "Enviando mensaje de error",
                             "Registrando funciones de envio de mensajes"})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    // Nobody else may read it or have put anything in it (Linux: mode 0700).
    EXPECT_TRUE(zelvo::ensurePrivateDir(folder, 077));
}

// Last: on Windows the export gives the process a console of its own and
// reopens the standard streams on it, so what this program prints afterwards
// goes there.
TEST(Plugin, TheDiagnosticExportPrintsItsName) {
    ASSERT_NE(nullptr, module().library);
    auto test = module().get<int (*)()>("test");
    ASSERT_NE(nullptr, test);
    EXPECT_EQ(11, test());  // "vexa-tools\n"
}
