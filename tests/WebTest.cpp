// The browser grid's pure parts: the lights it keeps, who it lets in, what it
// takes from a page, and its bound on clients.

#include <gtest/gtest.h>

#include <string>

#include "web/LightState.h"
#include "web/WebAccess.h"
#include "web/WebClients.h"

namespace velto {
namespace {

TEST(WebTest, LightStateKeepsTheLastStateOfEachCellOnTheGrid) {
    LightState lights;
    const bool changed[] = {lights.set(0, 0, 1),  lights.set(0, 0, 1), lights.set(7, 7, 5),
                            lights.set(7, 7, -1), lights.set(3, 1, 1), lights.set(3, 1, 0),
                            lights.set(8, 0, 1),  lights.set(0, 8, 1), lights.set(~0u, 2, 1)};
    EXPECT_EQ(std::vector<bool>(std::begin(changed), std::end(changed)),
              (std::vector<bool>{true, false, true, false, true, true, false, false, false}));
    EXPECT_EQ(lights.text(), "10000000" + std::string(48, '0') + "00000001");
    EXPECT_FALSE(lights.lit(8, 0));
}

TEST(WebTest, AccessNeedsTheExactTokenAndAPageOfItsOwnHost) {
    const struct {
        const char *expected, *given, *origin, *host;
        bool admitted;
    } cases[] = {{"", "", "", "127.0.0.1:8090", true},
                 {"", "anything", "http://127.0.0.1:8090", "127.0.0.1:8090", true},
                 {"", "", "http://evil.example", "127.0.0.1:8090", false},
                 {"", "", "https://127.0.0.1:8090", "127.0.0.1:8090", false},
                 {"", "", "http://127.0.0.1:8090", "", false},
                 {"", "", "", "localhost", true},
                 {"", "", "", "[::1]:8090", true},
                 {"", "", "http://evil.example:8090", "evil.example:8090", false},
                 {"c0ffee", "c0ffee", "http://10.0.0.2:8090", "10.0.0.2:8090", true},
                 {"c0ffee", "c0ffef", "", "10.0.0.2:8090", false},
                 {"c0ffee", "c0ffe", "", "10.0.0.2:8090", false},
                 {"c0ffee", "c0ffee0", "", "10.0.0.2:8090", false},
                 {"c0ffee", "", "", "10.0.0.2:8090", false}};
    for (const auto& c : cases)
        EXPECT_EQ(WebAccess::admits(c.expected, c.given, c.origin, c.host), c.admitted)
            << c.expected << " " << c.given << " " << c.origin << " " << c.host;
    const std::string token = WebAccess::makeToken().value();
    EXPECT_NE(token, WebAccess::makeToken().value());
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(token.size(), 32u);
    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"})
        EXPECT_TRUE(WebAccess::isLoopback(host)) << host;
    for (const char* host : {"0.0.0.0", "10.0.0.2", "", "::"})
        EXPECT_FALSE(WebAccess::isLoopback(host)) << host;
}

TEST(WebTest, PagePressTakesOnlyCellsOfTheGridAndStatesZeroOrOne) {
    const auto press = PagePress::parse("7,0,1").value();
    EXPECT_EQ(std::vector<int>({press.x, press.y, press.state}), (std::vector<int>{7, 0, 1}));
    EXPECT_EQ(PagePress::parse("0,7,0")->state, 0);
    for (const char* bad :
         {"8,0,1", "0,8,1", "0,0,2", "-1,0,1", "0,0,1 ", "0,0", "0;0;1", "", "a,b,c", "00,0,1"})
        EXPECT_FALSE(PagePress::parse(bad)) << bad;
}

TEST(WebTest, ClientsAreBounded) {
    WebClients clients(2);
    EXPECT_EQ((std::vector<bool>{clients.admit(), clients.admit(), clients.admit()}),
              (std::vector<bool>{true, true, false}));
    clients.leave();
    EXPECT_TRUE(clients.admit());
    EXPECT_EQ(clients.count(), 2u);
}

}  // namespace
}  // namespace velto
