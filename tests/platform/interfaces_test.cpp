#include "platform/interfaces.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

TEST(Interfaces, IdentifyHostGivesDottedAddressesNonLoopbackFirst) {
    const auto ips = platform::IdentifyHost();
    ASSERT_FALSE(ips.empty());
    // The loopback interface is up wherever these tests run (they use it).
    EXPECT_NE(std::find(ips.begin(), ips.end(), "127.0.0.1"), ips.end());
    std::set<std::string> loopback;
    for (const auto& item : platform::ListInterfaces()) {
        in_addr a{};
        EXPECT_EQ(::inet_pton(AF_INET, item.ip.c_str(), &a), 1) << item.ip;
        EXPECT_EQ(::inet_pton(AF_INET, item.netmask.c_str(), &a), 1) << item.netmask;
        EXPECT_FALSE(item.name.empty());
        if (item.loopback) loopback.insert(item.ip);
    }
    bool seenLoopback = false;
    for (const auto& ip : ips) {
        in_addr a{};
        EXPECT_EQ(::inet_pton(AF_INET, ip.c_str(), &a), 1) << ip;
        const bool isLoopback = loopback.count(ip) > 0;
        EXPECT_FALSE(seenLoopback && !isLoopback) << ip << " comes after a loopback address";
        seenLoopback = seenLoopback || isLoopback;
    }
    EXPECT_EQ(std::set<std::string>(ips.begin(), ips.end()).size(), ips.size());
}

TEST(Interfaces, SourceAddressIsWhatTheRoutesPick) {
    // Loopback destinations leave from the loopback interface's own address; a datagram to one
    // of our addresses leaves from that address.
    EXPECT_EQ(platform::SourceAddressFor("127.0.0.9"), "127.0.0.1");
    for (const auto& ip : platform::IdentifyHost()) EXPECT_EQ(platform::SourceAddressFor(ip), ip);
    EXPECT_EQ(platform::SourceAddressFor("not an address"), "");
    EXPECT_EQ(platform::SourceAddressFor(""), "");
}
