#include "platform/sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/event_pump.h"
#include "tests/platform/qt_env.h"

using kest::test::RunTicks;
using kest::test::RunUntil;
using namespace platform;

namespace {

// A plain blocking-free client socket the tests drive by hand (it reads only when told to).
int RawTcpConnect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    return fd;
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

}  // namespace

TEST(UdpSocket, ReceivesWithAddressesAndAnswersFromTheQueriedAddress) {
    UdpSocket server;
    ASSERT_TRUE(server.Bind("", 0)) << server.LastError().text;
    EXPECT_EQ(server.State(), kStateOpen);
    ASSERT_NE(server.LocalPort(), 0);

    UdpSocket client;
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    std::vector<Datagram> atServer, atClient;
    server.OnData = [&](const Datagram& d) {
        atServer.push_back(d);
        // The reply leaves from the address the query reached, not the kernel's first choice.
        EXPECT_TRUE(server.SendTo("reply:" + d.data, d.fromIp, d.fromPort, d.localIp));
    };
    client.OnData = [&](const Datagram& d) { atClient.push_back(d); };

    // 127.0.0.2 is local too, but a reply to 127.0.0.1 would normally leave from 127.0.0.1.
    const std::string query("\x00\x01query\xff", 8);
    ASSERT_TRUE(client.SendTo(query, "127.0.0.2", server.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return atClient.size() == 1; }));

    ASSERT_EQ(atServer.size(), 1u);
    EXPECT_EQ(atServer[0].data, query);
    EXPECT_EQ(atServer[0].fromIp, "127.0.0.1");
    EXPECT_EQ(atServer[0].fromPort, client.LocalPort());
    EXPECT_EQ(atServer[0].localIp, "127.0.0.2");
    EXPECT_EQ(atServer[0].destIp, "127.0.0.2");
    EXPECT_EQ(atClient[0].data, "reply:" + query);
    EXPECT_EQ(atClient[0].fromIp, "127.0.0.2");
    EXPECT_EQ(atClient[0].fromPort, server.LocalPort());
}

TEST(UdpSocket, TakenPortFailsWithErrnoAndALaterBindWorks) {
    UdpSocket first;
    ASSERT_TRUE(first.Bind("127.0.0.1", 0));
    UdpSocket second;
    EXPECT_FALSE(second.Bind("127.0.0.1", first.LocalPort()));
    EXPECT_EQ(second.State(), kStateError);
    EXPECT_EQ(second.LastError().number, EADDRINUSE);
    EXPECT_EQ(second.LastError().text, std::strerror(EADDRINUSE));
    EXPECT_FALSE(second.LastError().IsConnectionReset());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.LocalPort(), 0);

    EXPECT_TRUE(second.Bind("127.0.0.1", 0));
    EXPECT_EQ(second.State(), kStateOpen);
    second.Close();
    EXPECT_EQ(second.State(), kStateClosed);

    EXPECT_FALSE(second.Bind("300.1.2.3", 0));
    EXPECT_EQ(second.LastError().number, EINVAL);
    EXPECT_FALSE(first.SendTo("x", "not-an-address", 53));
    EXPECT_EQ(first.LastError().number, EINVAL);
    EXPECT_EQ(first.State(), kStateOpen);  // a failed send leaves the socket usable
}

TEST(UdpSocket, BatchesArriveWholeAndInOrderAcrossBoundedWakeups) {
    UdpSocket server, client;
    ASSERT_TRUE(server.Bind("127.0.0.1", 0));
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    server.SetMaxDatagramsPerWakeup(3);
    std::vector<std::string> got;
    server.OnData = [&](const Datagram& d) { got.push_back(d.data); };

    std::vector<OutgoingDatagram> batch;
    for (int i = 0; i < 150; ++i)
        batch.push_back(
            {"datagram " + std::to_string(i), "127.0.0.1", server.LocalPort(), "127.0.0.1"});
    batch.push_back({Pattern(65000), "127.0.0.1", server.LocalPort(), ""});
    EXPECT_EQ(client.SendBatch(batch), batch.size());
    ASSERT_TRUE(RunUntil([&] { return got.size() == batch.size(); }));
    for (size_t i = 0; i < batch.size(); ++i) EXPECT_EQ(got[i], batch[i].data) << i;

    // A bad address stops the batch there; what came before it was sent.
    std::vector<OutgoingDatagram> broken{{"a", "127.0.0.1", server.LocalPort(), ""},
                                         {"b", "bogus", server.LocalPort(), ""},
                                         {"c", "127.0.0.1", server.LocalPort(), ""}};
    EXPECT_EQ(client.SendBatch(broken), 1u);
    EXPECT_EQ(client.LastError().number, EINVAL);
}

TEST(UdpSocket, BatchedRepliesLeaveInOrderAndAKernelRefusalGoesToOnError) {
    UdpSocket server, client;
    ASSERT_TRUE(server.Bind("", 0));
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    server.SetSendBatching(true);
    std::vector<Datagram> atServer;
    std::vector<std::string> atClient;
    std::vector<int> errors;
    server.OnError = [&](const SocketError& e) { errors.push_back(e.number); };
    server.OnData = [&](const Datagram& d) {
        atServer.push_back(d);
        EXPECT_TRUE(server.SendTo("re " + d.data, d.fromIp, d.fromPort, d.localIp));
        // Refused by the kernel (no broadcast option) only when the queue is sent.
        if (d.data == "q 3") {
            EXPECT_TRUE(server.SendTo("x", "255.255.255.255", d.fromPort));
        }
        // A bad address is still refused at once.
        EXPECT_FALSE(server.SendTo("x", "bogus", d.fromPort));
    };
    client.OnData = [&](const Datagram& d) { atClient.push_back(d.data); };

    std::vector<OutgoingDatagram> batch;
    for (int i = 0; i < 40; ++i)
        batch.push_back({"q " + std::to_string(i), "127.123.45.210", server.LocalPort(), ""});
    ASSERT_EQ(client.SendBatch(batch), batch.size());
    ASSERT_TRUE(RunUntil([&] { return atClient.size() == batch.size(); }));
    for (size_t i = 0; i < batch.size(); ++i) EXPECT_EQ(atClient[i], "re " + batch[i].data);
    EXPECT_EQ(errors, std::vector<int>{EACCES});
    // The addresses as text, from the datagram's own header.
    EXPECT_EQ(atServer[0].destIp, "127.123.45.210");
    EXPECT_EQ(atServer[0].localIp, "127.123.45.210");
    EXPECT_EQ(atServer[0].fromIp, "127.0.0.1");

    // Off again: a send from a handler goes out at once and reports its own failure.
    server.SetSendBatching(false);
    server.OnData = [&](const Datagram& d) {
        EXPECT_FALSE(server.SendTo("x", "255.255.255.255", d.fromPort));
        EXPECT_EQ(server.LastError().number, EACCES);
        EXPECT_TRUE(server.SendTo("late", d.fromIp, d.fromPort));
    };
    ASSERT_TRUE(client.SendTo("again", "127.0.0.1", server.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return atClient.size() == batch.size() + 1; }));
    EXPECT_EQ(atClient.back(), "late");
    EXPECT_EQ(errors.size(), 1u);
}

TEST(UdpSocket, PumpInsideAHandlerDeliversTheNextDatagramOnce) {
    UdpSocket server, client;
    ASSERT_TRUE(server.Bind("127.0.0.1", 0));
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    platform::EventPump pump(4, 0);
    std::vector<std::string> events;
    server.OnData = [&](const Datagram& d) {
        events.push_back("begin " + d.data);
        if (d.data == "first") {
            EXPECT_TRUE(client.SendTo("second", "127.0.0.1", server.LocalPort()));
            // Pump until the second datagram has been handled inside this one.
            QElapsedTimer waited;
            waited.start();
            while (events.size() < 3 && waited.elapsed() < 30000) pump.Pump();
        }
        events.push_back("end " + d.data);
    };
    ASSERT_TRUE(client.SendTo("first", "127.0.0.1", server.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return events.size() >= 4; }));
    // A datagram sent after them comes after them, and nothing was delivered twice.
    ASSERT_TRUE(client.SendTo("last", "127.0.0.1", server.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return events.size() >= 6; }));
    EXPECT_EQ(events, (std::vector<std::string>{"begin first", "begin second", "end second",
                                                "end first", "begin last", "end last"}));
}

TEST(UdpSocket, HandlerMayCloseOrDestroyItsSocket) {
    auto server = std::make_unique<UdpSocket>();
    ASSERT_TRUE(server->Bind("127.0.0.1", 0));
    const uint16_t port = server->LocalPort();
    UdpSocket client;
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    int seen = 0;
    server->OnData = [&](const Datagram&) {
        ++seen;
        server.reset();
    };
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(client.SendTo("x", "127.0.0.1", port));
    ASSERT_TRUE(RunUntil([&] { return seen > 0; }));
    RunTicks(1);
    EXPECT_EQ(seen, 1);

    UdpSocket again;
    ASSERT_TRUE(again.Bind("127.0.0.1", 0));
    seen = 0;
    again.OnData = [&](const Datagram&) {
        ++seen;
        again.Close();
    };
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(client.SendTo("x", "127.0.0.1", again.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return seen > 0; }));
    RunTicks(1);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(again.State(), kStateClosed);
}

TEST(UdpSocket, BroadcastNeedsTheOptionAndArrivesWithItsDestination) {
    // 127.255.255.255 is the broadcast address of lo: nothing leaves the machine.
    UdpSocket server;
    ASSERT_TRUE(server.Bind("", 0));
    std::vector<Datagram> got;
    server.OnData = [&](const Datagram& d) { got.push_back(d); };

    UdpSocket sender;
    ASSERT_TRUE(sender.Bind("127.0.0.1", 0));
    EXPECT_FALSE(sender.SendTo("x", "127.255.255.255", server.LocalPort()));
    EXPECT_EQ(sender.LastError().number, EACCES);
    EXPECT_TRUE(sender.SetBroadcast(true));
    EXPECT_TRUE(sender.SendTo("bcast", "127.255.255.255", server.LocalPort()));

    // The option given before the bind is applied by it.
    UdpSocket early;
    early.SetBroadcast(true);
    ASSERT_TRUE(early.Bind("127.0.0.1", 0));
    EXPECT_TRUE(early.SendTo("early", "127.255.255.255", server.LocalPort()));

    ASSERT_TRUE(RunUntil([&] { return got.size() == 2; }));
    EXPECT_EQ(got[0].data, "bcast");
    EXPECT_EQ(got[0].destIp, "127.255.255.255");
    EXPECT_EQ(got[0].localIp, "127.0.0.1");  // the address to answer from
    EXPECT_GT(got[0].interfaceIndex, 0);
    EXPECT_EQ(got[1].data, "early");
}

TEST(TcpConnection, ConnectSendReceiveAndClose) {
    TcpListener listener;
    ASSERT_TRUE(listener.Bind("127.0.0.1", 0));
    EXPECT_EQ(listener.State(), kStateOpen);
    ASSERT_TRUE(listener.Listen());
    EXPECT_EQ(listener.State(), kStateListening);

    std::unique_ptr<TcpConnection> accepted;
    std::string atServer, atClient;
    bool serverSawClose = false;
    listener.OnConnectionRequest = [&](std::unique_ptr<TcpConnection> c) {
        accepted = std::move(c);
        accepted->OnData = [&](const std::string& bytes) {
            atServer += bytes;
            if (atServer == "hello") {
                EXPECT_TRUE(accepted->Send("welcome"));
            }
        };
        accepted->OnClose = [&] { serverSawClose = true; };
    };

    TcpConnection client;
    bool connected = false;
    client.OnConnect = [&] { connected = true; };
    client.OnData = [&](const std::string& bytes) { atClient += bytes; };
    ASSERT_TRUE(client.Connect("127.0.0.1", listener.LocalPort()));
    EXPECT_EQ(client.State(), kStateConnecting);
    ASSERT_TRUE(RunUntil([&] { return connected && accepted != nullptr; }));
    EXPECT_EQ(client.State(), kStateConnected);
    EXPECT_EQ(accepted->State(), kStateConnected);
    EXPECT_EQ(accepted->RemoteIp(), "127.0.0.1");
    EXPECT_EQ(accepted->RemotePort(), client.LocalPort());
    EXPECT_EQ(accepted->LocalPort(), listener.LocalPort());
    EXPECT_EQ(client.RemotePort(), listener.LocalPort());

    ASSERT_TRUE(client.Send("hel"));
    ASSERT_TRUE(client.Send("lo"));
    ASSERT_TRUE(RunUntil([&] { return atClient == "welcome"; }));
    EXPECT_EQ(atServer, "hello");

    client.Close();
    EXPECT_EQ(client.State(), kStateClosed);
    EXPECT_FALSE(client.Send("late"));
    EXPECT_EQ(client.LastError().number, ENOTCONN);
    ASSERT_TRUE(RunUntil([&] { return serverSawClose; }));
    EXPECT_EQ(accepted->State(), kStateClosing);
    accepted->Close();
    EXPECT_EQ(accepted->State(), kStateClosed);
}

TEST(TcpConnection, KeepsWhatTheKernelDoesNotTakeAndWritesItLater) {
    TcpListener listener;
    ASSERT_TRUE(listener.Bind("127.0.0.1", 0) && listener.Listen());
    std::unique_ptr<TcpConnection> conn;
    listener.OnConnectionRequest = [&](std::unique_ptr<TcpConnection> c) { conn = std::move(c); };
    const int peer = RawTcpConnect(listener.LocalPort());
    ASSERT_TRUE(RunUntil([&] { return conn != nullptr; }));
    ASSERT_TRUE(conn->SetKernelSendBuffer(4096));

    // The peer reads nothing yet, so most of this stays with us.
    const std::string big = Pattern(4u << 20);
    conn->SetSendBufferLimit(6u << 20);
    ASSERT_TRUE(conn->Send(big.substr(0, 3u << 20)));
    EXPECT_GT(conn->PendingSendBytes(), 0u);
    ASSERT_TRUE(conn->Send(big.substr(3u << 20)));
    // Past the limit nothing is queued.
    const size_t pending = conn->PendingSendBytes();
    EXPECT_FALSE(conn->Send(std::string(3u << 20, 'x')));
    EXPECT_EQ(conn->LastError().number, ENOBUFS);
    EXPECT_EQ(conn->PendingSendBytes(), pending);
    EXPECT_EQ(conn->State(), kStateConnected);

    std::string received;
    ASSERT_TRUE(RunUntil(
        [&] {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
                if (n <= 0) break;
                received.append(buf, static_cast<size_t>(n));
            }
            return received.size() >= big.size();
        },
        20000));
    EXPECT_EQ(received.size(), big.size());
    EXPECT_TRUE(received == big);
    EXPECT_EQ(conn->PendingSendBytes(), 0u);

    // CloseWhenSent closes only after the last byte went out.
    ASSERT_TRUE(conn->Send(big.substr(0, 1u << 20)));
    conn->CloseWhenSent();
    received.clear();
    ASSERT_TRUE(RunUntil(
        [&] {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
                if (n == 0) return true;  // end of stream after everything
                if (n < 0) return false;
                received.append(buf, static_cast<size_t>(n));
            }
        },
        20000));
    EXPECT_EQ(received.size(), 1u << 20);
    EXPECT_EQ(conn->State(), kStateClosed);
    ::close(peer);
}

TEST(TcpConnection, RefusedConnectIsAnErrorButNotAReset) {
    // Bound but not listening: nobody else can listen there, and connects are refused.
    TcpListener notListening;
    ASSERT_TRUE(notListening.Bind("127.0.0.1", 0));
    const uint16_t port = notListening.LocalPort();
    TcpConnection client;
    std::vector<SocketError> errors;
    bool connected = false;
    client.OnError = [&](const SocketError& e) { errors.push_back(e); };
    client.OnConnect = [&] { connected = true; };
    const bool started = client.Connect("127.0.0.1", port);
    if (started) {
        ASSERT_TRUE(RunUntil([&] { return !errors.empty(); }));
    }
    EXPECT_FALSE(connected);
    EXPECT_EQ(client.State(), kStateError);
    EXPECT_EQ(client.LastError().number, ECONNREFUSED);
    EXPECT_FALSE(client.LastError().IsConnectionReset());
    EXPECT_FALSE(client.Connect("127.0.0.1.5", port));
    EXPECT_EQ(client.LastError().number, EINVAL);
}

TEST(TcpConnection, PeerResetGivesAResetErrorThenClose) {
    TcpListener listener;
    ASSERT_TRUE(listener.Bind("127.0.0.1", 0) && listener.Listen());
    std::unique_ptr<TcpConnection> conn;
    std::vector<std::string> events;
    listener.OnConnectionRequest = [&](std::unique_ptr<TcpConnection> c) {
        conn = std::move(c);
        conn->OnError = [&](const SocketError& e) {
            events.push_back(e.IsConnectionReset() ? "reset" : "error " + e.text);
        };
        conn->OnClose = [&] { events.push_back("close"); };
        conn->OnData = [&](const std::string& b) { events.push_back("data " + b); };
    };
    const int peer = RawTcpConnect(listener.LocalPort());
    ASSERT_TRUE(RunUntil([&] { return conn != nullptr; }));
    ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
    ASSERT_TRUE(RunUntil([&] { return !events.empty(); }));
    linger lg{1, 0};  // close with a reset
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(peer);
    ASSERT_TRUE(RunUntil([&] { return events.size() >= 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"data abc", "reset", "close"}));
    EXPECT_EQ(conn->State(), kStateError);
    EXPECT_EQ(conn->LastError().number, ECONNRESET);
}

TEST(TcpListener, AcceptsManyAndFailsOnATakenPort) {
    TcpListener listener;
    ASSERT_TRUE(listener.Bind("", 0) && listener.Listen());
    TcpListener other;
    EXPECT_FALSE(other.Bind("127.0.0.1", listener.LocalPort()));
    EXPECT_EQ(other.State(), kStateError);
    EXPECT_EQ(other.LastError().number, EADDRINUSE);
    EXPECT_FALSE(other.Listen());

    std::vector<std::unique_ptr<TcpConnection>> accepted;
    listener.OnConnectionRequest = [&](std::unique_ptr<TcpConnection> c) {
        accepted.push_back(std::move(c));
    };
    std::vector<std::unique_ptr<TcpConnection>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<TcpConnection>());
        ASSERT_TRUE(clients.back()->Connect("127.0.0.1", listener.LocalPort()));
    }
    ASSERT_TRUE(RunUntil([&] { return accepted.size() == clients.size(); }));

    // A connection the handler does not keep is closed at once; the peer sees the end.
    listener.OnConnectionRequest = nullptr;
    TcpConnection dropped;
    bool closed = false;
    dropped.OnClose = [&] { closed = true; };
    ASSERT_TRUE(dropped.Connect("127.0.0.1", listener.LocalPort()));
    ASSERT_TRUE(RunUntil([&] { return closed; }));

    listener.Close();
    EXPECT_EQ(listener.State(), kStateClosed);
    EXPECT_EQ(listener.LocalPort(), 0);
}

TEST(TcpConnection, HandlerMayDestroyItsConnection) {
    TcpListener listener;
    ASSERT_TRUE(listener.Bind("127.0.0.1", 0) && listener.Listen());
    std::unique_ptr<TcpConnection> conn;
    int chunks = 0;
    listener.OnConnectionRequest = [&](std::unique_ptr<TcpConnection> c) {
        conn = std::move(c);
        conn->OnData = [&](const std::string&) {
            ++chunks;
            conn.reset();
        };
    };
    const int peer = RawTcpConnect(listener.LocalPort());
    ASSERT_TRUE(RunUntil([&] { return conn != nullptr; }));
    const std::string data = Pattern(1u << 20);
    ASSERT_EQ(::send(peer, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
    ASSERT_TRUE(RunUntil([&] { return chunks > 0; }));
    RunTicks(1);
    EXPECT_EQ(chunks, 1);
    ::close(peer);
}
