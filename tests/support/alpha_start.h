#pragma once
// Starts a server object on a DNS port probed free. The probe says nothing of TCP, where a closed
// connection of a test beside this one may still hold the port (TIME_WAIT), and the port may be
// taken before the server binds it: such a start is thrown away and made again on another port.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sockets.h"
#include "server/frmAlpha.h"

namespace kest::test {

// A UDP port on loopback that nobody held a moment ago (0 when none could be bound).
inline uint16_t FreePort() {
    platform::UdpSocket probe;
    EXPECT_TRUE(probe.Bind("127.0.0.1", 0));
    return probe.IsOpen() ? probe.LocalPort() : 0;
}

// make builds the server object (not started) for a DNS port; start starts it.
inline std::unique_ptr<modMain::frmAlpha> StartOnFreePort(
    const std::function<std::unique_ptr<modMain::frmAlpha>(uint16_t port)>& make,
    void (modMain::frmAlpha::*start)() = &modMain::frmAlpha::Begin) {
    std::unique_ptr<modMain::frmAlpha> alpha;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const uint16_t port = FreePort();
        if (port == 0) continue;
        alpha.reset();  // the old one puts back the error sink it found
        alpha = make(port);
        ((*alpha).*start)();
        if (alpha->Running) return alpha;
    }
    ADD_FAILURE() << "the DNS sockets never bound";
    return alpha;
}

}  // namespace kest::test
