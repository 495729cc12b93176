// The server object's TCP listener with real sockets on loopback: a transfer out over a real
// connection (larger than the socket buffers), a query answered on its connection, blocked
// addresses, and the connections closed when the server pauses.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>

#include "core/modDNS.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "server/frmAlpha.h"
#include "server/intake.h"
#include "server/replication/ctlZT.h"
#include "tests/support/alpha_start.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace modDNS;
using modMain::frmAlpha;
using modMain::HostServices;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "tcp_alpha_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until the condition holds (or a generous bound passes).
bool RunUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Client {
    platform::TcpConnection c;
    std::string in;
    bool connected = false;
    bool closed = false;

    explicit Client(uint16_t port) {
        c.OnConnect = [this] { connected = true; };
        c.OnData = [this](const std::string& b) { in += b; };
        c.OnClose = [this] { closed = true; };
        c.OnError = [this](const platform::SocketError&) { closed = true; };
        EXPECT_TRUE(c.Connect("127.0.0.1", port));
    }
    // Whole framed messages received so far.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        size_t at = 0;
        while (in.size() - at >= 2) {
            const size_t n =
                (static_cast<unsigned char>(in[at]) << 8) | static_cast<unsigned char>(in[at + 1]);
            if (in.size() - at - 2 < n) break;
            out.push_back(in.substr(at + 2, n));
            at += 2 + n;
        }
        return out;
    }
};

std::string Framed(int id, const std::string& name, int qtype, const std::string& tail = "") {
    std::string m = MakeShortL(id) + std::string("\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10) +
                    ZipName("", name) + MakeShortL(qtype) + MakeShortL(1) + tail;
    return MakeShortL(static_cast<int64_t>(m.size())) + m;
}

class TcpAlpha : public ::testing::Test {
  protected:
    // The server with a zone of hosts + 2 records, started and loaded.
    void Start(int hosts) {
        App();
        std::filesystem::create_directories(home_ / "data");
        std::string zone = "; NOTSECURE\r\n@ 300 SOA ns1 hm 1 2 3 4 5\r\nwww 300 A 10.0.0.1\r\n";
        for (int i = 0; i < hosts; ++i) zone += "h" + std::to_string(i) + " 300 A 10.0.0.2\r\n";
        platform::WriteFileAtomic(home_ / "data" / "example.test.dns", zone);
        alpha_ = kest::test::StartOnFreePort([&](uint16_t port) {
            HostServices h;
            h.clock = &clock_;
            h.programDir = home_;
            auto a = std::make_unique<frmAlpha>(h);
            a->LoadSettings({});
            a->settings.DNSBind = "127.0.0.1";
            a->settings.DNSPort = port_ = port;
            a->Log().OpenWindow();
            return a;
        });
        ASSERT_TRUE(alpha_->Running);
        alpha_->Timer();
        ASSERT_TRUE(alpha_->Loaded);
    }
    void TearDown() override { alpha_.reset(); }

    kest::test::FakeClock clock_;
    kest::test::TempDir dir_;
    const std::filesystem::path home_ = dir_.path();
    std::unique_ptr<frmAlpha> alpha_;
    uint16_t port_ = 0;
};

TEST_F(TcpAlpha, ATransferLargerThanTheSocketBuffersArrivesWholeAndAQueryOnTheSameConnection) {
    // About 600 KB of messages, queued at once: far more than the kernel takes in one go.
    Start(12000);
    Client client(port_);
    ASSERT_TRUE(RunUntil([&] { return client.connected; }));
    ASSERT_TRUE(client.c.Send(Framed(5, "example.test.", 252)));
    // 12,002 records and the SOA again, one per message.
    ASSERT_TRUE(RunUntil([&] { return client.Messages().size() >= 12003; }));
    EXPECT_EQ(client.Messages().size(), 12003u);
    ASSERT_TRUE(client.c.Send(Framed(6, "www.example.test.", kTypeA)));
    ASSERT_TRUE(RunUntil([&] { return client.Messages().size() == 12004; }));
    const std::string reply = client.Messages().back();
    EXPECT_EQ(reply.substr(0, 2), MakeShortL(6));
    EXPECT_EQ(reply.substr(6, 2), MakeShortL(1));  // one answer
    EXPECT_FALSE(client.closed);
    EXPECT_EQ(alpha_->TcpConnections().BusyCount(), 1u);

    // Pausing closes it; a new connection then finds nobody listening.
    alpha_->PauseServer();
    ASSERT_TRUE(RunUntil([&] { return client.closed; }));
    EXPECT_EQ(alpha_->TcpConnections().BusyCount(), 0u);
}

TEST_F(TcpAlpha, ABlockedAddressIsClosedAtOnce) {
    Start(0);
    alpha_->Intake().SetBlocks({"127.0.0.1"});
    Client client(port_);
    ASSERT_TRUE(RunUntil([&] { return client.closed; }));
    EXPECT_EQ(client.in, "");
    EXPECT_EQ(alpha_->TcpConnections().BusyCount(), 0u);
}

}  // namespace
