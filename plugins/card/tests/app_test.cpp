#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <sstream>
#include <thread>

#include "TempFolder.h"
#include "TestUtil.h"
#include "app/ConnectionState.h"
#include "app/Global.h"
#include "app/Guarded.h"
#include "app/JsonResponse.h"
#include "app/VexaApplication.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"

namespace {

std::string reply(const std::vector<std::pair<std::string, std::string>>& pairs) {
    VexaResponse r;
    for (const auto& p : pairs) r.add(p.first, p.second);
    return JsonResponse::okResponse(r);
}

}  // namespace

TEST(JsonResponse, ShapesAndEscaping) {
    const std::pair<std::string, std::string> rows[] = {
        {reply({{"cui", "12345678"}, {"digito", "9"}}), R"({"status":"0","body":{"cui":"12345678","digito":"9"}})"},
        // Keys are not checked for uniqueness: both pairs go out in order.
        {reply({{"a", "1"}, {"a", "2"}}), R"({"status":"0","body":{"a":"1","a":"2"}})"},
        {JsonResponse::errorResponse(AppException("c", "a\"b\\c", "", 0, "F::f", 1)),
         R"({"status":"1","body":{"message":"a\"b\\c"}})"},
        {reply({{"k", "\b\t\n\f\r"}}), R"({"status":"0","body":{"k":"\b\t\n\f\r"}})"},
        {reply({{"k", std::string("\x00\x01\x1f\x0b", 4)}}), R"({"status":"0","body":{"k":"\u0000\u0001\u001F\u000B"}})"},
        // The solidus, DEL and bytes of 0x80 and above pass unchanged, valid UTF-8 or not.
        {reply({{"k", "a/b\x7f\xc3\xb1\xff\xfe"}}), "{\"status\":\"0\",\"body\":{\"k\":\"a/b\x7f\xc3\xb1\xff\xfe\"}}"},
        {reply({{"\"k\x02", "v"}}), "{\"status\":\"0\",\"body\":{\"\\\"k\\u0002\":\"v\"}}"},
    };
    for (const auto& [got, expected] : rows) EXPECT_EQ(expected, got);
}

TEST(CommandParsing, Tokens) {
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"read", "abi", "dg1", "dg7"}), VexaApplication::parseCommand("read abi dg1 dg7"));
    EXPECT_EQ((V{"changepin", "sign"}), VexaApplication::parseCommand(" \t changepin \r\n\v\f  sign\t "));
    for (const char* blank : {" \t\n\r\v\f", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(V{}, VexaApplication::parseCommand(blank));
    EXPECT_EQ((V{"READ", "\xc3\xb1"}), VexaApplication::parseCommand("READ \xc3\xb1"));
}

// The usual commands and their errors are answered end to end. A command over
// 64 KiB is refused whole, not split and run; a long word is quoted short.
TEST(CommandDispatch, ErrorsNeedNoCard) {
    VexaApplication::init();
    // No reader is reachable here. Linux: PCSCLITE_CSOCK_NAME names no daemon.
    // Windows under Wine: its WinSCard is a stub that has no context to give;
    // Windows itself stops the smart-card service when no reader is attached.
    zelvo::setEnv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm");
    const std::string noCard = failureOf([] { VexaApplication::doAction("read dg1"); });
    EXPECT_TRUE(noCard == "Componente de smartcard no inicializado" ||
                noCard == "No se obtuvo la lista de lectores de tarjetas inteligentes")
        << noCard;
    std::string reads = "read", word(2000, 'x');
    while (reads.size() < VexaApplication::kMaxCommand) reads += " dg1";
    const std::string tooLong = reads + " ";
    const std::pair<const char*, std::string> rows[] = {
        {nullptr, "Comando nulo"},
        {"read, abi", "Comando read, desconocido"},
        {reads.c_str(), noCard},  // 65536 bytes: read, and run
        {tooLong.c_str(), "Comando demasiado largo"},
        {word.c_str(), "Comando " + word.substr(0, 1024) + "... (2000 bytes) desconocido"},
    };
    for (const auto& [command, message] : rows) EXPECT_EQ(message, failureOf([&] { VexaApplication::doAction(command); }));
    try {
        VexaApplication::doAction("");
        ADD_FAILURE() << "an empty command accepted";
    } catch (const AppException& e) {
        EXPECT_EQ("params.size()==0", e.condition());
        EXPECT_EQ("VexaApplication::doAction", e.function());
    }
}

TEST(Guarded, AnExceptionOfAnyTypeBecomesAFailure) {
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { throw AppException("c", "Comando vacío", "", 0, "F::f", 1); }, "Comando vacío"},
        {[] { throw std::runtime_error("x"); }, "Error interno del componente vexa-tools"},
        {[] { throw 42; }, "Error interno del componente vexa-tools"},
    };
    for (const auto& [body, expected] : rows) {
        std::string got;
        guarded("T::t", body, [&](const AppException& e) { got = e.message(); });
        EXPECT_EQ(expected, got);
    }
    // Nor does a failure of the failure path get out.
    guarded("T::t", [] { throw 1; }, [](const AppException&) { throw 2; });
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

// A platform failure's record with its code in hex is proved end to end (no card).
TEST(AppException, ADecimalCodeIsLoggedInDecimal) {
    TempFolder dir("vexa-log-");
    ASSERT_FALSE(dir.path().empty());
    const std::string path = dir / "t.log";
    zelvo::log::init(path, 6, false);
    failureOf([] {
        raisePlatformException("mscapiprovider::SecretKey::getInstance", 8, "EVP_EncryptInit_ex",
                               "No se ha importado la clave", "bad", 42, CodeFormat::decimal);
    });
    zelvo::log::shutdown();
    std::stringstream text;
    text << std::ifstream(std::filesystem::u8path(path)).rdbuf();
    for (const char* line : {" ERROR [", "[mscapiprovider::SecretKey::getInstance@8] [EVP_EncryptInit_ex] "
                                         "No se ha importado la clave / bad (42)\n"})
        EXPECT_NE(std::string::npos, text.str().find(line)) << line;
}
