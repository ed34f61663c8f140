#include "BrowserList.h"

#include <gtest/gtest.h>

using namespace zelvo::ui;

namespace {
std::vector<std::string> shown(const BrowserList& list) {
    std::vector<std::string> out;
    for (const auto& e : list.entries()) out.push_back(e.display);
    return out;
}
}  // namespace

TEST(BrowserList, SortsTheDefaultAmongTheNamesIgnoringCase) {
    EXPECT_EQ(shown(BrowserList({})), (std::vector<std::string>{"Default browser"}));
    EXPECT_EQ(BrowserList({}).entries()[0].name, "Default browser");
    BrowserList list({"Opera", "firefox", "Chromium", "Edge", "default zzz"});
    EXPECT_EQ(shown(list),
              (std::vector<std::string>{"Chromium", "Default browser", "default zzz", "Edge", "firefox", "Opera"}));
}

TEST(BrowserList, KeepsTwinNamesInArrivalOrder) {
    BrowserList list({"Web", "web", "Web"});
    ASSERT_EQ(list.entries().size(), 4u);
    EXPECT_EQ(list.entries()[1].name + list.entries()[2].name + list.entries()[3].name, "WebwebWeb");
}

TEST(BrowserList, RefusesNamesThatWouldBreakTheAnswerAndShowsBadBytesSafely) {
    BrowserList list({"Uno\nDos", "Tres\r", "Bad\xFFName"});
    EXPECT_EQ(list.refused().size(), 2u);
    ASSERT_EQ(list.entries().size(), 2u);
    EXPECT_EQ(list.entries()[0].display, "Bad\xEF\xBF\xBDName");
    EXPECT_EQ(list.entries()[0].name, "Bad\xFFName");  // answered as the caller gave it
}
