// Port enumeration on Windows, through the registry key SERIALCOMM. Under
// the tests' wine every COM port that the wine runner maps to a link
// appears there.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/cport.h"
#include "link/port_enum.h"

namespace skarvel {
namespace {

TEST(PortEnumWin, ListsTheMappedPortsSortedAlphabetically) {
    std::vector<std::string> ports{"stale"};
    ListComPorts(ports);
    for (const char* mapped : {"COM5", "COM10", "COM20"})
        EXPECT_NE(std::find(ports.begin(), ports.end(), mapped), ports.end()) << mapped;
    EXPECT_EQ(std::find(ports.begin(), ports.end(), "stale"), ports.end());
    // Alphabetical, not numeric: COM10 comes before COM5.
    const auto at = [&](const char* name) { return std::find(ports.begin(), ports.end(), name) - ports.begin(); };
    EXPECT_LT(at("COM10"), at("COM5"));
    std::vector<std::string> sorted = ports;
    SortPortNames(sorted);
    EXPECT_EQ(ports, sorted);
}

TEST(PortEnumWin, SortIgnoresCase) {
    std::vector<std::string> names{"COM2", "com10", "COM1", "Com3"};
    SortPortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "com10", "COM2", "Com3"}));
}

TEST(PortEnumWin, SamePortIgnoresCase) {
    EXPECT_TRUE(SamePort("COM2", "com2"));
    EXPECT_TRUE(SamePort("COM2", "\\\\.\\COM2"));
    EXPECT_FALSE(SamePort("COM2", "COM20"));
    EXPECT_FALSE(SamePort("", ""));
}

}  // namespace
}  // namespace skarvel
