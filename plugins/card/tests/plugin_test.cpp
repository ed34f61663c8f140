// vexa-tools.so loaded as the launcher loads it: what it exports, what it does
// with binary messages, and where it logs. Commands and replies, and a command
// that comes before onConnect, are exercised end to end through the launcher.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "zelvo/log.h"
#include "zelvo/plugin_api.h"

namespace {

int g_texts = 0, g_binaries = 0;  // replies sent; every call comes back before the test reads them
void textSender(const char*) { ++g_texts; }
void binarySender(const char*, int) { ++g_binaries; }

// The module, opened once with HOME in a folder of the test's own.
struct Module {
    std::string home;
    void* handle = nullptr;
    template <typename F>
    F get(const char* name) const { return reinterpret_cast<F>(dlsym(handle, name)); }

    Module() {
        char dir[] = "/tmp/vexa-home-XXXXXX";
        if (!mkdtemp(dir)) return;
        home = dir;
        setenv("HOME", dir, 1);
        setenv("PCSCLITE_CSOCK_NAME", (home + "/no-pcscd.comm").c_str(), 1);  // never the machine's own pcscd
        handle = dlopen(VEXA_TOOLS_PATH, RTLD_NOW | RTLD_LOCAL);
    }
    ~Module() { std::system(("rm -rf '" + home + "'").c_str()); }

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
    ASSERT_NE(nullptr, module().handle) << dlerror();
    for (const char* name : {"registerSendMessageFunction", "onConnect", "onTextMessage", "onBinaryMessage", "onClose"})
        EXPECT_NE(nullptr, module().get<void*>(name)) << name;
    auto test = module().get<int (*)()>("test");
    ASSERT_NE(nullptr, test);
    EXPECT_EQ(11, test());  // "vexa-tools\n"
    for (const char* internal : {"_ZN15VexaApplication8doActionEPKc", "_ZN9mrtdutils4Util3padERKSt6vectorIhSaIhEE",
                                 "_ZN5zelvo3log4initERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEib"})
        EXPECT_EQ(nullptr, module().get<void*>(internal)) << internal;
}

TEST(Plugin, BinaryMessagesAreIgnoredAndTheHostsCloseEndsTheConnection) {
    ASSERT_NE(nullptr, module().handle);
    g_texts = g_binaries = 0;
    EXPECT_TRUE(module().connection([](const Module& m) {
        m.get<ZelvoOnBinaryMessage>("onBinaryMessage")("abc", 3);
        m.get<ZelvoOnClose>("onClose")();
    }));
    EXPECT_EQ(0, g_texts + g_binaries);
}

TEST(Plugin, LogsToAPrivateFolderOfTheUser) {
    ASSERT_NE(nullptr, module().handle);
    g_texts = 0;
    EXPECT_TRUE(module().connection([](const Module& m) { m.get<ZelvoOnTextMessage>("onTextMessage")("READ"); }));
    EXPECT_EQ(1, g_texts);
    std::stringstream text;
    text << std::ifstream(module().home + "/.vexatools/" + zelvo::log::dayFileName()).rdbuf();
    const std::string log = text.str();
    EXPECT_EQ(0u, log.find("\xEF\xBB\xBF"));
    for (const char* line : {"Inicializando aplicación", "[onTextMessage@", "Mensaje de texto recibido: READ",
                             "[VexaApplication::doAction@", "[] Comando READ desconocido", "Enviando mensaje de error",
                             "Registrando funciones de envio de mensajes"})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    struct stat st {};
    ASSERT_EQ(0, stat((module().home + "/.vexatools").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}
