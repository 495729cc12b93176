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

// make builds the server object (not started) for a DNS port; start starts it.
inline std::unique_ptr<modMain::frmAlpha> StartOnFreePort(
    const std::function<std::unique_ptr<modMain::frmAlpha>(uint16_t port)>& make,
    void (modMain::frmAlpha::*start)() = &modMain::frmAlpha::Begin) {
    std::unique_ptr<modMain::frmAlpha> alpha;
    for (int attempt = 0; attempt < 20; ++attempt) {
        uint16_t port = 0;
        {
            platform::UdpSocket probe;
            if (!probe.Bind("127.0.0.1", 0)) continue;
            port = probe.LocalPort();
        }
        alpha.reset();  // the old one puts back the error sink it found
        alpha = make(port);
        ((*alpha).*start)();
        if (alpha->Running) return alpha;
    }
    ADD_FAILURE() << "the DNS sockets never bound";
    return alpha;
}

}  // namespace kest::test
