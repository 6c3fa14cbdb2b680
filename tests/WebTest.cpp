// The browser grid's pure parts: the lights it keeps, who it lets in, what it
// takes from a page, and its bounds on clients.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/LightState.h"
#include "web/WebAccess.h"
#include "web/WebClients.h"

namespace velto {
namespace {

TEST(WebTest, LightStateKeepsTheLastStateOfEachCellOnTheGrid) {
    const struct {
        std::uint32_t x, y;
        std::int32_t state;
        bool changed;
    } steps[] = {
        {0, 0, 1, true},   {0, 0, 1, false}, {7, 7, 5, true},
        {7, 7, -1, false}, {3, 1, 1, true},  {3, 1, 0, true},
        {8, 0, 1, false},  {0, 8, 1, false}, {0xffffffffu, 2, 1, false},
    };
    LightState lights;
    for (const auto& step : steps)
        EXPECT_EQ(lights.set(step.x, step.y, step.state), step.changed) << step.x << "," << step.y;
    EXPECT_EQ(lights.text(),
              "10000000"
              "00000000"
              "00000000"
              "00000000"
              "00000000"
              "00000000"
              "00000000"
              "00000001");
    EXPECT_FALSE(lights.lit(8, 0));
}

TEST(WebTest, AccessNeedsTheExactTokenAndAPageOfItsOwnHost) {
    const struct {
        const char* expected;
        const char* given;
        const char* origin;
        const char* host;
        bool admitted;
    } cases[] = {
        {"", "", "", "127.0.0.1:8090", true},
        {"", "anything", "http://127.0.0.1:8090", "127.0.0.1:8090", true},
        {"", "", "http://evil.example", "127.0.0.1:8090", false},
        {"", "", "https://127.0.0.1:8090", "127.0.0.1:8090", false},
        {"", "", "http://127.0.0.1:8090", "", false},
        {"", "", "", "localhost", true},
        {"", "", "", "[::1]:8090", true},
        {"", "", "http://evil.example:8090", "evil.example:8090", false},
        {"", "", "", "10.0.0.2:8090", false},
        {"c0ffee", "c0ffee", "http://10.0.0.2:8090", "10.0.0.2:8090", true},
        {"c0ffee", "c0ffef", "", "10.0.0.2:8090", false},
        {"c0ffee", "c0ffe", "", "10.0.0.2:8090", false},
        {"c0ffee", "c0ffee0", "", "10.0.0.2:8090", false},
        {"c0ffee", "", "", "10.0.0.2:8090", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WebAccess::admits(c.expected, c.given, c.origin, c.host), c.admitted)
            << c.expected << " " << c.given << " " << c.origin << " " << c.host;
    const auto a = WebAccess::makeToken();
    const auto b = WebAccess::makeToken();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), 32u);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a->find_first_not_of("0123456789abcdef"), std::string::npos);
    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"})
        EXPECT_TRUE(WebAccess::isLoopback(host));
    for (const char* host : {"0.0.0.0", "10.0.0.2", "", "::"})
        EXPECT_FALSE(WebAccess::isLoopback(host)) << host;
}

TEST(WebTest, PagePressTakesOnlyCellsOfTheGridAndStatesZeroOrOne) {
    const auto press = PagePress::parse("7,0,1");
    ASSERT_TRUE(press);
    EXPECT_EQ(press->x, 7);
    EXPECT_EQ(press->y, 0);
    EXPECT_EQ(press->state, 1);
    EXPECT_EQ(PagePress::parse("0,7,0")->state, 0);
    for (const char* bad :
         {"8,0,1", "0,8,1", "0,0,2", "-1,0,1", "0,0,1 ", "0,0", "0;0;1", "", "a,b,c", "00,0,1"})
        EXPECT_FALSE(PagePress::parse(bad)) << bad;
}

TEST(WebTest, ClientsAreBoundedAndASlowOneGetsOnlyTheLatestState) {
    WebClients clients(2);
    EXPECT_TRUE(clients.admit());
    EXPECT_TRUE(clients.admit());
    EXPECT_FALSE(clients.admit());
    clients.leave();
    EXPECT_TRUE(clients.admit());
    EXPECT_EQ(clients.count(), 2u);

    std::uint64_t fast = 0;
    std::uint64_t slow = 0;
    EXPECT_EQ(clients.nextFor(fast), nullptr);  // nothing published yet
    EXPECT_TRUE(clients.publish("a"));
    EXPECT_EQ(*clients.nextFor(fast), "a");
    EXPECT_EQ(clients.nextFor(fast), nullptr);
    EXPECT_FALSE(clients.publish("a"));  // the same state is no news
    EXPECT_TRUE(clients.publish("b"));
    EXPECT_TRUE(clients.publish("c"));
    EXPECT_EQ(*clients.nextFor(slow), "c");
    EXPECT_EQ(clients.nextFor(slow), nullptr);
    EXPECT_EQ(*clients.nextFor(fast), "c");
}

}  // namespace
}  // namespace velto
