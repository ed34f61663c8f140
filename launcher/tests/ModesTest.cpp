// The test mode's own rules. The echo itself, the request's overrides, the test
// page's URL and every self-check request are proved end to end.
#include "TestUtil.h"
#include "core/JsonReader.h"
#include "modes/TestApplication.h"
#include "modes/TestApplicationRunnable.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// What the echo application handed to its callbacks (they are plain functions), in order.
std::mutex g_mutex;
std::string g_events;

void add(const char* event) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events += event;
}

std::string events() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_events;
}

void wire(VirtualApplication& app) {
    g_events.clear();
    app.startedCallback = [] { add("started "); };
    app.closeCallback = [] { add("close "); };
}

}  // namespace

TEST(TestApplication, CloseBeforeTheWaitStillEndsRun) {
    TestApplication app;
    wire(app);
    app.onClose();  // the page closed before run() reached its wait
    std::thread thread([&] { app.run(); });
    thread.join();  // would never return if run() overwrote the close
    EXPECT_EQ(events(), "started close ");
    EXPECT_EQ(app.state(), TestApplication::closeRequested);
}

TEST(TestApplication, WaitForEndClosesARunningApplication) {
    TestApplication never;
    never.waitForEnd();  // never started: returns at once

    TestApplication app;
    wire(app);
    std::thread thread([&] { app.run(); });
    for (int i = 0; i < 6000 && events().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    app.waitForEnd();
    thread.join();
    EXPECT_EQ(events(), "started close ");
}

TEST(TestApplicationRunnable, ReadsNoJavaSettingsAndOnlyATestRequest) {
    auto reader = JsonReader::getInstance(R"({"port":"9000","java":{"classpath":"x.jar","vmoptions":["a"]}})");
    Argv args({"launcher", "zelvo://test/" + zelvo::base64Encode("{}") + "/"});
    auto runnable = TestApplicationRunnable::create(args.argv(), reader.get());
    ASSERT_TRUE(runnable);
    EXPECT_EQ(describe(runnable->serverParams()), "port=9000 idle=0 basekey= ssl=0 cert= pass= cp= loader= vm=a "
                                                  "bind=127.0.0.1 max=134217728");
    Argv notJson({"launcher", "zelvo://test/" + zelvo::base64Encode("not json")});
    EXPECT_FALSE(TestApplicationRunnable::create(notJson.argv(), reader.get()));
    Argv other({"launcher", "zelvo://check/" + zelvo::base64Encode("{}")});
    EXPECT_FALSE(TestApplicationRunnable::create(other.argv(), nullptr));
}
