#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "TestUtil.h"
#include "app/ConnectionState.h"
#include "app/JsonResponse.h"
#include "app/VexaApplication.h"
#include "zelvo/log.h"

namespace {

std::string reply(const std::vector<std::pair<std::string, std::string>>& pairs) {
    VexaResponse r;
    for (const auto& p : pairs) r.add(p.first, p.second);
    return JsonResponse::okResponse(r);
}

std::string errorReply(const std::string& message) {
    return JsonResponse::errorResponse(AppException("c", message, "", 0, "F::f", 1));
}

}  // namespace

TEST(JsonResponse, Shapes) {
    EXPECT_EQ(R"({"status":"0","body":{}})", reply({}));
    EXPECT_EQ(R"({"status":"0","body":{"cui":"12345678","digito":"9"}})", reply({{"cui", "12345678"}, {"digito", "9"}}));
    // Keys are not checked for uniqueness: both pairs go out in order.
    EXPECT_EQ(R"({"status":"0","body":{"a":"1","a":"2"}})", reply({{"a", "1"}, {"a", "2"}}));
    EXPECT_EQ(R"({"status":"1","body":{"message":"Comando vacío"}})", errorReply("Comando vacío"));
}

TEST(JsonResponse, Escaping) {
    EXPECT_EQ(R"({"status":"1","body":{"message":"a\"b\\c"}})", errorReply("a\"b\\c"));
    EXPECT_EQ(R"({"status":"0","body":{"k":"\b\t\n\f\r"}})", reply({{"k", "\b\t\n\f\r"}}));
    EXPECT_EQ(R"({"status":"0","body":{"k":"\u0000\u0001\u001F\u000B"}})",
              reply({{"k", std::string("\x00\x01\x1f\x0b", 4)}}));
    // The solidus, DEL and bytes of 0x80 and above pass unchanged, valid UTF-8 or not.
    EXPECT_EQ("{\"status\":\"0\",\"body\":{\"k\":\"a/b\x7f\xc3\xb1\xff\xfe\"}}", reply({{"k", "a/b\x7f\xc3\xb1\xff\xfe"}}));
    EXPECT_EQ("{\"status\":\"0\",\"body\":{\"\\\"k\\u0002\":\"v\"}}", reply({{"\"k\x02", "v"}}));
}

TEST(VexaResponse, Pairs) {
    VexaResponse r;
    r.add("mrz", "x");
    r.addCancelCode();
    EXPECT_EQ(2u, r.size());
    EXPECT_EQ("code", r.getKey(1));
    EXPECT_EQ("-1", r.getValue(1));
    EXPECT_EQ("", r.getKey(2));
    EXPECT_EQ("", r.getValue(99));
}

TEST(CommandParsing, Tokens) {
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"read", "abi", "dg1", "dg7"}), VexaApplication::parseCommand("read abi dg1 dg7"));
    EXPECT_EQ((V{"changepin", "sign"}), VexaApplication::parseCommand(" \t changepin \r\n\v\f  sign\t "));
    EXPECT_EQ(V{}, VexaApplication::parseCommand(" \t\n\r\v\f"));
    EXPECT_EQ(V{}, VexaApplication::parseCommand(""));
    EXPECT_EQ(V{}, VexaApplication::parseCommand(nullptr));
    EXPECT_EQ((V{"READ", "\xc3\xb1"}), VexaApplication::parseCommand("READ \xc3\xb1"));
}

TEST(CommandDispatch, Errors) {
    VexaApplication::init();
    EXPECT_EQ("Comando nulo", failureOf([] { VexaApplication::doAction(nullptr); }));
    EXPECT_EQ("Comando vacío", failureOf([] { VexaApplication::doAction(" \t "); }));
    EXPECT_EQ("Comando READ desconocido", failureOf([] { VexaApplication::doAction("READ"); }));
    EXPECT_EQ("Comando read, desconocido", failureOf([] { VexaApplication::doAction("read, abi"); }));
    try {
        VexaApplication::doAction("");
    } catch (const AppException& e) {
        EXPECT_EQ("params.size()==0", e.condition());
        EXPECT_EQ("VexaApplication::doAction", e.function());
    }
}

TEST(CommandDispatch, ReadWithoutPartsDoesNotTouchTheCard) {
    VexaApplication::init();
    // No reader is reachable here: PCSCLITE_CSOCK_NAME names nothing.
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
    EXPECT_EQ(0u, VexaApplication::doAction("read").size());
    EXPECT_EQ(0u, VexaApplication::doAction("  read  foo DG1 ").size());
    EXPECT_EQ("Componente de smartcard no inicializado", failureOf([] { VexaApplication::doAction("read dg1"); }));
    EXPECT_EQ("Tipo de PIN a cambiar no indicado", failureOf([] { VexaApplication::doAction("changepin"); }));
    EXPECT_EQ("Tipo de PIN a cambiar no válido", failureOf([] { VexaApplication::doAction("changepin Auth"); }));
}

TEST(ConnectionState, ACloseBeforeTheOpenIsNotUndone) {
    ConnectionState c;
    c.begin();
    EXPECT_TRUE(c.markOpen());
    EXPECT_TRUE(c.isOpen());
    c.close();
    EXPECT_FALSE(c.isOpen());
    // The next connection: the answer and its close come before onConnect opens.
    c.begin();
    c.close();
    EXPECT_FALSE(c.markOpen());
    EXPECT_EQ(ConnectionState::closed, c.value());
    // Racing threads: whatever the order, the opener never waits after a close.
    for (int i = 0; i < 200; ++i) {
        c.begin();
        std::thread closer([&] { c.close(); });
        bool opened = c.markOpen();
        closer.join();
        EXPECT_FALSE(c.isOpen()) << opened;
    }
}

TEST(AppException, LogLines) {
    char dir[] = "/tmp/vexa-log-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::string path = std::string(dir) + "/t.log";
    zelvo::log::init(path, 6, false);
    failureOf([] { APP_THROW("Vexa::cambiarPin", "credentialid", "El ID de la credencial no es válido"); });
    failureOf([] {
        raisePlatformException("smartcardio::CardChannel::getInstance", 7, "SCardConnect", "Tarjeta no disponible",
                               "Card was removed.", static_cast<int32_t>(0x80100069), CodeFormat::hex);
    });
    failureOf([] {
        raisePlatformException("mscapiprovider::SecretKey::getInstance", 8, "EVP_EncryptInit_ex",
                               "No se ha importado la clave", "bad", 42, CodeFormat::decimal);
    });
    zelvo::log::shutdown();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    EXPECT_NE(std::string::npos, log.find(" ERROR ["));
    EXPECT_NE(std::string::npos, log.find("[Vexa::cambiarPin@"));
    EXPECT_NE(std::string::npos, log.find("] [credentialid] El ID de la credencial no es válido\n"));
    EXPECT_NE(std::string::npos, log.find("[smartcardio::CardChannel::getInstance@7] [SCardConnect] Tarjeta no "
                                          "disponible / Card was removed. (0x80100069)\n"));
    EXPECT_NE(std::string::npos, log.find("[EVP_EncryptInit_ex] No se ha importado la clave / bad (42)\n"));
    std::remove(path.c_str());
    rmdir(dir);
}
