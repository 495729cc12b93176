// The DHCP sockets on loopback, on ports the system chooses.
#include "server/dhcp/dhcp_sockets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sockets.h"
#include "tests/platform/qt_env.h"

using kest::test::RunUntil;
using namespace modDHCP;

namespace {

clDHCPif Interface(const std::string& ip) {
    clDHCPif f;
    f.IPaddr = ip;
    return f;
}

struct Arrived {
    int16_t i;
    std::string data, sender;
};

TEST(DHCPSockets, OneSocketPerInterfaceAtMostTenWithTheirLogLines) {
    std::vector<std::string> log;
    std::vector<Arrived> arrived;
    clDHCPSockets::Hooks hooks;
    hooks.log = [&](int, std::string_view text) { log.emplace_back(text); };
    hooks.onData = [&](int16_t i, std::string_view data, const std::string& sender) {
        arrived.push_back({i, std::string(data), sender});
    };
    clDHCPSockets sockets(std::move(hooks));

    // Not an address of this machine: logged and passed over, the next one gets number 2.
    std::vector<clDHCPif> list = {Interface("127.0.0.1"), Interface("192.0.2.123")};
    for (int n = 0; n < 11; ++n) list.push_back(Interface("127.0.0.1"));
    sockets.Open(list, 0);
    ASSERT_EQ(sockets.Count(), kMaxSockets);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "DHCP service started on 127.0.0.1");
    EXPECT_EQ(log[1], "Binding DHCP service to 192.0.2.123 failed!");
    EXPECT_EQ(log.size(), 11u);
    EXPECT_EQ(sockets.LocalAddress(2), "127.0.0.1");
    EXPECT_EQ(sockets.LocalAddress(11), "");
    EXPECT_EQ(sockets.LocalAddress(0), "");

    // A datagram to socket 2 arrives numbered 2; a reply from socket 2 leaves from its port.
    platform::UdpSocket client;
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    std::vector<platform::Datagram> atClient;
    client.OnData = [&](const platform::Datagram& d) { atClient.push_back(d); };
    ASSERT_TRUE(client.SendTo("hello", "127.0.0.1", sockets.LocalPort(2)));
    ASSERT_TRUE(RunUntil([&] { return !arrived.empty(); }, 5000));
    EXPECT_EQ(arrived[0].i, 2);
    EXPECT_EQ(arrived[0].data, "hello");
    EXPECT_EQ(arrived[0].sender, "127.0.0.1");
    ASSERT_TRUE(sockets.Send(2, "reply", "127.0.0.1", client.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return !atClient.empty(); }, 5000));
    EXPECT_EQ(atClient[0].data, "reply");
    EXPECT_EQ(atClient[0].fromPort, sockets.LocalPort(2));

    EXPECT_FALSE(sockets.Send(11, "x", "127.0.0.1", client.LocalPort()));
    sockets.CloseAll();
    EXPECT_EQ(sockets.Count(), 0u);
    EXPECT_FALSE(sockets.Send(1, "x", "127.0.0.1", client.LocalPort()));
}

}  // namespace
