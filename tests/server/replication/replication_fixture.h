#pragma once
// A zone store in a temporary folder with a fake clock, the transfer client on a scripted
// network, and an independent encoder of the messages a primary sends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/replication/ctlZTS.h"
#include "server/replication/replication.h"
#include "server/replication/secondaries.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace reptest {

namespace fs = std::filesystem;

// Wire helpers written from the message format, not with the codec under test.
inline std::string U16(unsigned v) {
    return std::string{static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
inline std::string U32(uint32_t v) {
    return U16(v >> 16) + U16(v & 0xFFFF);
}
inline std::string Wire(const std::string& name) {
    std::string out;
    size_t start = 0;
    while (start < name.size()) {
        const size_t dot = name.find('.', start);
        const std::string label = name.substr(start, dot - start);
        if (!label.empty()) {
            out.push_back(static_cast<char>(label.size()));
            out += label;
        }
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    out.push_back('\0');
    return out;
}
inline std::string RR(const std::string& owner, unsigned type, uint32_t ttl,
                      const std::string& rdata) {
    return Wire(owner) + U16(type) + U16(1) + U32(ttl) + U16(static_cast<unsigned>(rdata.size())) +
           rdata;
}
inline std::string SoaRdata(const std::string& mname, const std::string& rname, uint32_t serial,
                            uint32_t refresh, uint32_t retry, uint32_t expire, uint32_t minimum) {
    return Wire(mname) + Wire(rname) + U32(serial) + U32(refresh) + U32(retry) + U32(expire) +
           U32(minimum);
}
inline std::string A(int a, int b, int c, int d) {
    return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                       static_cast<char>(d)};
}
// A reply message: header (ID, QR+AA, rcode), the question, the answer records.
inline std::string Reply(unsigned id, const std::string& qname, unsigned qtype,
                         const std::vector<std::string>& answers, unsigned rcode = 0) {
    std::string m = U16(id) + std::string(1, '\x84') + std::string(1, static_cast<char>(rcode)) +
                    U16(1) + U16(static_cast<unsigned>(answers.size())) + U16(0) + U16(0);
    m += Wire(qname) + U16(qtype) + U16(1);
    for (const auto& a : answers) m += a;
    return m;
}
inline std::string Framed(const std::string& m) {
    return U16(static_cast<unsigned>(m.size())) + m;
}

// The scripted network: what the client sent, and what the tests let fail.
class FakeNet : public modReplication::IZtsNet {
  public:
    struct Sent {
        std::string data, ip;
    };
    std::vector<Sent> udp;
    std::vector<std::string> connects;
    std::vector<std::string> tcp;
    int closes = 0;
    bool timer = false;
    bool connected = false;
    bool failUdp = false, failConnect = false;

    bool SendUdp(const std::string& data, const std::string& ip,
                 modReplication::SocketFailure& f) override {
        if (failUdp) {
            f = {101, "Network is unreachable"};
            return false;
        }
        udp.push_back({data, ip});
        return true;
    }
    bool Connect(const std::string& ip, modReplication::SocketFailure& f) override {
        if (failConnect) {
            f = {111, "Connection refused"};
            return false;
        }
        connects.push_back(ip);
        connected = true;
        return true;
    }
    bool Send(const std::string& data, modReplication::SocketFailure&) override {
        tcp.push_back(data);
        return true;
    }
    void Close() override {
        if (connected) ++closes;
        connected = false;
    }
    void StartTimer() override { timer = true; }
    void StopTimer() override { timer = false; }
};

class ReplicationTest : public ::testing::Test {
  protected:
    ReplicationTest()
        : root_(tmp_.path()),
          data_(root_ / "data"),
          leases_(settings_, clock_, root_),
          store_(
              settings_, clock_,
              [this](int kind, std::string_view t) {
                  log_.emplace_back(t);
                  kinds_.push_back(kind);
              },
              leases_, data_),
          client_(
              net_, ids_, clock_,
              [this](int kind, std::string_view t) {
                  log_.emplace_back(t);
                  kinds_.push_back(kind);
              },
              [this] { return running_; }),
          secondaries_(store_, client_) {
        fs::remove_all(root_);
        fs::create_directories(data_);
        previousSink_ = kest::SetErrorSink(
            [this](const std::string& where, const std::string&, const kest::RunError& e) {
                reports_.push_back(where + " " + std::to_string(e.number));
            });
        replication_.notify = [this](const std::string& zone) { notified_.push_back(zone); };
        store_.SetReplication(&replication_);
        modReplication::ZtsZones z;
        z.primaryIP = [this](const std::string& n) { return store_.ZonePrimIP(n); };
        z.zoneExpired = [this](const std::string& n) { return store_.ZoneExpired(n); };
        z.gotSOA = [this](uint32_t s) { secondaries_.GotSOA(s); };
        z.gotZTransfer = [this](const std::string& n, std::vector<RecordRef> r) {
            secondaries_.GotZTransfer(n, std::move(r));
        };
        client_.SetZones(std::move(z));
    }
    ~ReplicationTest() override {
        kest::SetErrorSink(previousSink_);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(data_ / name, std::ios::binary) << text;
    }
    std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Logged(const std::string& line) const {
        return std::find(log_.begin(), log_.end(), line) != log_.end();
    }
    double SecondsLeft(const std::string& zone) {
        const auto z = store_.GetZone(zone);
        return z ? (z->Expires - clock_.Now()) * 86400.0 : -1e9;
    }

    // A secondary zone sec.example. of primary 10.0.0.9 with serial 100 and 2 records, loaded
    // with an hour to live.
    static constexpr const char* kSecondary =
        "; PRIMARYIP 10.0.0.9\r\n; NOTIFY 10.0.0.3\r\n"
        "@ 3600 SOA ns1 hostmaster 100 1800 600 86400 300\r\nwww 300 A 10.0.0.1\r\n";
    void LoadSecondary(const std::string& zone = "sec.example.", double seconds = 3600) {
        Write(zone + "dns", kSecondary);
        ASSERT_TRUE(store_.LoadZone(zone, seconds));
        log_.clear();
        kinds_.clear();
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    kest::test::TempDir tmp_;  // before the paths made from it
    fs::path root_, data_;
    clLeases leases_;
    std::vector<std::string> log_;
    std::vector<int> kinds_;
    std::vector<std::string> reports_;
    std::vector<std::string> notified_;
    kest::ErrorSink previousSink_;
    clDNSAuthData store_;
    clReplication replication_;
    FakeNet net_;
    clReplicationIds ids_;
    bool running_ = true;
    modReplication::ctlZTS client_;
    modReplication::clSecondaries secondaries_;
};

}  // namespace reptest
