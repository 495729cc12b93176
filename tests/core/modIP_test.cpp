#include "core/modIP.h"

#include <gtest/gtest.h>

using namespace modIP;

namespace {
std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}
}  // namespace

TEST(IPText, ConversionsNormaliseAndPadMalformedText) {
    EXPECT_EQ(IPToData("192.168.001.010"), Bytes({192, 168, 1, 10}));
    EXPECT_EQ(CleanIP("192.168.001.010"), "192.168.1.10");
    EXPECT_EQ(IPToData("abc"), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(IPToData("256.1.1.1"), Bytes({0, 1, 1, 1}));
    EXPECT_EQ(IPToData("1.2.300.4"), Bytes({1, 2, 0, 4}));
    EXPECT_EQ(IPToData("10.1"), Bytes({10, 1, 0, 0}));
    EXPECT_EQ(IPToData("-7.8x.9.10.11"), Bytes({7, 8, 9, 10}));
    EXPECT_EQ(IPToData(""), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(DataToIP(Bytes({1, 2})), "1.2.0.0");
    EXPECT_EQ(DataToIP(Bytes({255, 254, 253, 252, 9})), "255.254.253.252");
    EXPECT_EQ(CleanIP(""), "0.0.0.0");
}

TEST(IPText, BitsAndNextAddressCarry) {
    EXPECT_EQ(IPToBin("128.0.1.255"), "10000000000000000000000111111111");
    EXPECT_EQ(NextIP("10.0.0.255"), "10.0.1.0");
    EXPECT_EQ(NextIP("10.255.255.255"), "11.0.0.0");
    EXPECT_EQ(NextIP("255.255.255.255"), "0.0.0.0");
}

TEST(IPSubnet, SameNetUsesTheLastOneOfTheMask) {
    EXPECT_FALSE(SameNet("192.168.1.5", "192.168.2.5", "255.255.255.0"));
    EXPECT_TRUE(SameNet("192.168.1.5", "192.168.2.5", "255.255.0.0"));
    EXPECT_TRUE(SameNet("1.2.3.4", "200.1.1.1", "0.0.0.0"));
    // A non-contiguous mask counts up to its last one bit.
    EXPECT_FALSE(SameNet("10.0.0.0", "10.0.0.2", "255.0.0.2"));
}

TEST(IPSubnet, ValidHostAddresses) {
    EXPECT_FALSE(ValidIP("192.168.1.0", "255.255.255.0"));
    EXPECT_FALSE(ValidIP("192.168.1.255", "255.255.255.0"));
    EXPECT_TRUE(ValidIP("192.168.1.1", "255.255.255.0"));
    EXPECT_FALSE(ValidIP("127.0.0.2", "255.0.0.0"));
    EXPECT_FALSE(ValidIP("127.0.0.2", "0.0.0.0"));
    EXPECT_FALSE(ValidIP("10.0.0.1", "255.255.255.255"));
    EXPECT_FALSE(ValidIP("", "255.255.255.0"));
}

TEST(IPArpa, ReverseNamesBothWays) {
    EXPECT_EQ(ArpaToIP("4.3.2.1.in-addr.arpa."), "1.2.3.4");
    EXPECT_EQ(ArpaToIP("4.3.2.1.in-addr.arpa"), "0.0.0.0");
    EXPECT_EQ(ArpaToIP("4.3.2.1.IN-ADDR.ARPA."), "0.0.0.0");
    EXPECT_EQ(ArpaToData("2.1.in-addr.arpa."), Bytes({0, 0, 1, 2}));
    EXPECT_EQ(ArpaToData(".in-addr.arpa."), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(ArpaToIP("in-addr.arpa."), "0.0.0.0");
    EXPECT_EQ(IPToArpa("10.0.0.1"), "1.0.0.10.in-addr.arpa.");
    EXPECT_EQ(DataToArpa(Bytes({1, 2, 3})), "");
}
