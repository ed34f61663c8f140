// vexa-tools.so loaded as the launcher loads it: dlopen, the five exports, and
// the order of calls the host makes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "zelvo/log.h"
#include "zelvo/plugin_api.h"

namespace {

std::mutex g_mutex;
std::vector<std::string> g_replies;
int g_binaryCalls = 0;

void textSender(const char* message) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_replies.emplace_back(message);
}
void binarySender(const char*, int) {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_binaryCalls;
}

class Plugin : public ::testing::Test {
protected:
    static void* module;
    static std::string home;
    static ZelvoRegisterSendMessageFunction registerSenders;
    static ZelvoOnConnect onConnect;
    static ZelvoOnTextMessage onTextMessage;
    static ZelvoOnBinaryMessage onBinaryMessage;
    static ZelvoOnClose onClose;

    static void SetUpTestSuite() {
        char dir[] = "/tmp/vexa-home-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        home = dir;
        setenv("HOME", dir, 1);
        // Never the machine's own pcscd.
        setenv("PCSCLITE_CSOCK_NAME", (home + "/no-pcscd.comm").c_str(), 1);
        module = dlopen(VEXA_TOOLS_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, module) << dlerror();
        registerSenders = reinterpret_cast<ZelvoRegisterSendMessageFunction>(dlsym(module, "registerSendMessageFunction"));
        onConnect = reinterpret_cast<ZelvoOnConnect>(dlsym(module, "onConnect"));
        onTextMessage = reinterpret_cast<ZelvoOnTextMessage>(dlsym(module, "onTextMessage"));
        onBinaryMessage = reinterpret_cast<ZelvoOnBinaryMessage>(dlsym(module, "onBinaryMessage"));
        onClose = reinterpret_cast<ZelvoOnClose>(dlsym(module, "onClose"));
    }

    void SetUp() override {
        ASSERT_TRUE(registerSenders && onConnect && onTextMessage && onBinaryMessage && onClose);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_replies.clear();
    }

    static std::vector<std::string> replies() {
        std::lock_guard<std::mutex> lock(g_mutex);
        return g_replies;
    }

    // onConnect on an application thread of its own, as the host runs it.
    static std::future<void> connect() { return std::async(std::launch::async, [] { onConnect(); }); }

    // True when onConnect returned; otherwise releases it so the test ends.
    static bool returns(std::future<void>& running) {
        if (running.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return true;
        onClose();
        running.wait();
        return false;
    }

    // One connection: senders, onConnect, then the page's message.
    static std::string exchange(const char* message) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_replies.clear();
        }
        registerSenders(textSender, binarySender);
        std::future<void> running = connect();
        onTextMessage(message);
        EXPECT_TRUE(returns(running));
        std::vector<std::string> r = replies();
        EXPECT_EQ(1u, r.size());
        return r.empty() ? "" : r.back();
    }
};

void* Plugin::module = nullptr;
std::string Plugin::home;
ZelvoRegisterSendMessageFunction Plugin::registerSenders = nullptr;
ZelvoOnConnect Plugin::onConnect = nullptr;
ZelvoOnTextMessage Plugin::onTextMessage = nullptr;
ZelvoOnBinaryMessage Plugin::onBinaryMessage = nullptr;
ZelvoOnClose Plugin::onClose = nullptr;

}  // namespace

TEST_F(Plugin, ExportsOnlyTheContract) {
    auto test = reinterpret_cast<int (*)()>(dlsym(module, "test"));
    ASSERT_NE(nullptr, test);
    EXPECT_EQ(11, test());  // "vexa-tools\n"
    EXPECT_EQ(nullptr, dlsym(module, "_ZN15VexaApplication8doActionEPKc"));
    EXPECT_EQ(nullptr, dlsym(module, "_ZN9mrtdutils4Util3padERKSt6vectorIhSaIhEE"));
    EXPECT_EQ(nullptr, dlsym(module, "_ZN5zelvo3log4initERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEib"));
}

TEST_F(Plugin, CommandsAndReplies) {
    EXPECT_EQ(R"({"status":"0","body":{}})", exchange("read"));
    EXPECT_EQ(R"({"status":"1","body":{"message":"Comando READ desconocido"}})", exchange("READ"));
    EXPECT_EQ(R"({"status":"1","body":{"message":"Comando vacío"}})", exchange(" \t  "));
    EXPECT_EQ(R"({"status":"1","body":{"message":"Componente de smartcard no inicializado"}})", exchange("read dg1"));
    EXPECT_EQ(R"({"status":"1","body":{"message":"Comando nulo"}})", exchange(nullptr));
}

TEST_F(Plugin, ACommandBeforeOnConnectDoesNotLeaveItWaiting) {
    // The page's command can be answered before onConnect runs; onConnect must
    // then see the close instead of waiting for ever.
    for (int i = 0; i < 20; ++i) {
        registerSenders(textSender, binarySender);
        onTextMessage("read");
        std::future<void> running = connect();
        ASSERT_TRUE(returns(running)) << "round " << i;
    }
    EXPECT_EQ(20u, replies().size());
    // And racing it, many times.
    for (int i = 0; i < 50; ++i) {
        registerSenders(textSender, binarySender);
        std::future<void> running = connect();
        onTextMessage("read");
        ASSERT_TRUE(returns(running)) << "race " << i;
    }
}

TEST_F(Plugin, BinaryMessagesAndTheHostsCloseEndTheConnection) {
    registerSenders(textSender, binarySender);
    std::future<void> running = connect();
    onBinaryMessage("abc", 3);
    onClose();
    EXPECT_TRUE(returns(running));
    EXPECT_TRUE(replies().empty());
    EXPECT_EQ(0, g_binaryCalls);
}

TEST_F(Plugin, LogsToTheUsersVexatoolsFolder) {
    exchange("READ");
    exchange("read abi");
    std::ifstream in(home + "/.vexatools/" + zelvo::log::dayFileName());
    ASSERT_TRUE(in.good());
    std::stringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    EXPECT_EQ(0u, log.find("\xEF\xBB\xBF"));
    for (const char* line :
         {"Iniciando valores de smartcard reader", "Iniciando valores de mscapi", "Inicializando aplicación",
          "[onTextMessage@", "Mensaje de texto recibido: READ", "Procesando acción READ",
          "[VexaApplication::doAction@", "[] Comando READ desconocido", "Enviando mensaje de error",
          "Creando mensaje de respuesta de error", "Cerrando aplicación", "Registrando funciones de envio de mensajes",
          "[smartcardio::CardTerminal::getInstance@", "[SCardEstablishContext] Componente de smartcard no inicializado / "})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    struct stat st {};
    ASSERT_EQ(0, stat((home + "/.vexatools").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}
