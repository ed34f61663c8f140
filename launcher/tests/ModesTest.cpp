#include "Argv.h"
#include "LogCapture.h"
#include "core/JsonReader.h"
#include "modes/SelfCheckRunnable.h"
#include "modes/TestApplication.h"
#include "modes/TestApplicationRunnable.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// What the echo application handed to its callbacks (they are plain functions).
struct Calls {
    std::mutex mutex;
    std::vector<std::string> events;
    void add(const std::string& e) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
    }
    std::vector<std::string> get() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
} calls;

void wire(VirtualApplication& app) {
    calls.events.clear();
    app.startedCallback = [] { calls.add("started"); };
    app.errorCallback = [](const char* t) { calls.add(std::string("error ") + t); };
    app.textCallback = [](const char* t) { calls.add(std::string("text ") + t); };
    app.binaryCallback = [](const char*, int n) { calls.add("binary " + std::to_string(n)); };
    app.closeCallback = [] { calls.add("close"); };
}

std::unique_ptr<TestApplicationRunnable> createTest(const std::string& config, const std::string& requestJson) {
    auto reader = JsonReader::getInstance(config);
    Argv args({"launcher", "zelvo://test/" + zelvo::base64Encode(requestJson) + "/"});
    return TestApplicationRunnable::create(args.argv(), reader.get());
}

std::unique_ptr<SelfCheckRunnable> createCheck(const std::vector<std::string>& words) {
    Argv args(words);
    return SelfCheckRunnable::create(args.argc(), args.argv(), nullptr);
}

}  // namespace

TEST(TestApplication, EchoesTextAndBinary) {
    TestApplication app;
    wire(app);
    app.onTextMessage("hola", 4);
    const char bytes[5] = {1, 0, 2, 3, 4};
    app.onBinaryMessage(bytes, 5);
    EXPECT_EQ(calls.get(), (std::vector<std::string>{"text hola recibido", "text Binario recibido: 5 bytes"}));
}

TEST(TestApplication, CloseBeforeTheWaitStillEndsRun) {
    TestApplication app;
    wire(app);
    app.onClose();  // the page closed before run() reached its wait
    std::thread thread([&] { app.run(); });
    thread.join();  // would never return if run() overwrote the close
    EXPECT_EQ(calls.get(), (std::vector<std::string>{"started", "close"}));
    EXPECT_EQ(app.state(), TestApplication::closeRequested);
}

TEST(TestApplication, WaitForEndClosesARunningApplication) {
    TestApplication never;
    never.waitForEnd();  // never started: returns at once

    TestApplication app;
    wire(app);
    std::thread thread([&] { app.run(); });
    while (calls.get().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    app.waitForEnd();
    thread.join();
    EXPECT_EQ(calls.get(), (std::vector<std::string>{"started", "close"}));
}

TEST(TestApplicationRunnable, ParametersAndOverrides) {
    LogCapture log;
    const std::string config = R"({"port":"9000","idletimeout":"5000","basekey":"K\\",
      "ssl":{"enabled":"1","certpath":"/c.pem","certpass":"pw"},"java":{"classpath":"x.jar","vmoptions":["a"]}})";
    auto kept = createTest(config, R"({"port":"0"})");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->serverParams().port, 9000);
    EXPECT_EQ(kept->serverParams().idletimeout, 5000);
    EXPECT_EQ(kept->serverParams().classpath, "") << "not read in this mode";
    EXPECT_EQ(kept->serverParams().vmoptions.size(), 1u);
    EXPECT_FALSE(kept->openbrowser());
    EXPECT_TRUE(log.contains("Parámetros encontrados para test/"));
    EXPECT_TRUE(log.contains("server.port 9000"));
    EXPECT_TRUE(log.contains("openbrowser 0"));

    auto over = createTest(config, R"({"port":"9001","idletimeout":"60","openbrowser":"true"})");
    ASSERT_TRUE(over);
    EXPECT_EQ(over->serverParams().port, 9001);
    EXPECT_EQ(over->serverParams().idletimeout, 60);
    EXPECT_TRUE(over->openbrowser());
    EXPECT_TRUE(log.contains("server.port (overridden by webapp) 9001"));
    EXPECT_TRUE(log.contains("server.idletimeout (overridden by webapp) 60"));

    EXPECT_FALSE(createTest(config, "not json"));
    Argv extra({"launcher", "zelvo://test/" + zelvo::base64Encode("{}"), "more"});
    EXPECT_TRUE(TestApplicationRunnable::create(extra.argv(), nullptr)) << "further arguments are ignored";
    Argv other({"launcher", "zelvo://check/" + zelvo::base64Encode("{}")});
    EXPECT_FALSE(TestApplicationRunnable::create(other.argv(), nullptr));
}

TEST(TestApplicationRunnable, TestUrlAndTheTlsRule) {
    const std::string tlsConfig = R"({"port":"8443","idletimeout":"60","ssl":{"enabled":"1"}})";
    auto secure = createTest(tlsConfig, "{}");
    secure->chooseTls(true);
    EXPECT_TRUE(secure->effectiveSsl());
    EXPECT_EQ(secure->buildTestUrl(),
              "https://localhost:8443/test.html?" +
                  zelvo::base64Encode(R"({"idletimeout":"60","port":"8443","use_ssl":"1"})"));

    auto clear = createTest(tlsConfig, "{}");
    clear->chooseTls(false);
    EXPECT_FALSE(clear->effectiveSsl());
    EXPECT_EQ(clear->buildTestUrl(), "http://localhost:8443/test.html?" +
                                         zelvo::base64Encode(R"({"idletimeout":"60","port":"8443","use_ssl":""})"));

    auto unconfigured = createTest(R"({"port":"8443","idletimeout":"60"})", R"({"port":"9001"})");
    unconfigured->chooseTls(true);
    EXPECT_FALSE(unconfigured->effectiveSsl());
    EXPECT_EQ(unconfigured->buildTestUrl().substr(0, 27), "http://localhost:9001/test.");
}

TEST(SelfCheckRunnable, RequestRules) {
    LogCapture log;
    auto port = createCheck({"l", "zelvo://check/" + zelvo::base64Encode(R"({"type":"port","port":"8080"})")});
    ASSERT_TRUE(port);
    EXPECT_EQ(port->type(), "port");
    EXPECT_EQ(port->port(), 8080);
    EXPECT_TRUE(log.contains("decodedParams: {\"type\":\"port\",\"port\":\"8080\"}"));

    auto number = createCheck({"l", "zelvo://check/" + zelvo::base64Encode(R"({"type":"port","port":8080})")});
    ASSERT_TRUE(number);
    EXPECT_EQ(number->port(), 0);
    auto bare = createCheck({"l", "zelvo://check/" + zelvo::base64Encode("{}") + "/"});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->type(), "");

    EXPECT_FALSE(createCheck({"l", "zelvo://check/" + zelvo::base64Encode("{}"), "x"})) << "argc must be 2";
    EXPECT_FALSE(createCheck({"l", "zelvo://check/"}));
    EXPECT_TRUE(log.contains("No se obtuvo la información de los parámetros web"));
    EXPECT_FALSE(createCheck({"l"}));
}
