#pragma once
// A scripted network for the look-up controller: records what was sent, fails sends on request,
// and lets the test deliver replies and connection events by hand.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "lookup/query_net.h"

namespace kest::test {

class FakeQueryNet : public lookup::IQueryNet {
  public:
    struct Sent {
        std::string data, ip;
        uint16_t port;
    };
    struct Connect {
        lookup::Channel ch;
        std::string ip;
        uint16_t port;
    };

    void SetEvents(lookup::INetEvents* e) override { events = e; }
    void Resolve(uint64_t ticket, const std::string& host) override {
        resolves.push_back({ticket, host});
    }
    int UdpSend(const std::string& data, const std::string& ip, uint16_t port,
                std::string& errorText) override {
        ++sendCalls;
        if (!sendErrors.empty()) {
            const int e = sendErrors.front();
            sendErrors.pop_front();
            errorText = "send failed";
            return e;
        }
        udpOpen = true;
        sent.push_back({data, ip, port});
        return 0;
    }
    void UdpClose() override { udpOpen = false; }
    bool TcpConnect(lookup::Channel ch, const std::string& ip, uint16_t port,
                    std::string& errorText) override {
        connects.push_back({ch, ip, port});
        if (refuseConnect) {
            errorText = "refused";
            return false;
        }
        tcpOpen[static_cast<int>(ch)] = true;
        return true;
    }
    bool TcpSend(lookup::Channel ch, const std::string& data) override {
        tcpSent[static_cast<int>(ch)] += data;
        return true;
    }
    void TcpClose(lookup::Channel ch) override { tcpOpen[static_cast<int>(ch)] = false; }

    lookup::INetEvents* events = nullptr;
    struct ResolveCall {
        uint64_t ticket;
        std::string host;
    };
    std::vector<ResolveCall> resolves;
    std::vector<Sent> sent;
    std::deque<int> sendErrors;  // errno of the next failing sends
    int sendCalls = 0;
    bool udpOpen = false;
    std::vector<Connect> connects;
    bool refuseConnect = false;
    bool tcpOpen[2] = {false, false};
    std::string tcpSent[2];
};

// Wire form, built byte by byte (independent of the codec under test).
inline std::string U16(unsigned v) {
    return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
inline std::string U32(uint32_t v) {
    return U16(v >> 16) + U16(v & 0xFFFF);
}
// "www.example.com" -> 3www7example3com0 (no compression).
inline std::string WireName(const std::string& dotted) {
    std::string out;
    size_t start = 0;
    while (start < dotted.size()) {
        size_t dot = dotted.find('.', start);
        if (dot == std::string::npos) dot = dotted.size();
        out += static_cast<char>(dot - start);
        out += dotted.substr(start, dot - start);
        start = dot + 1;
    }
    return out + '\0';
}
inline std::string Header(unsigned id, uint8_t b3, uint8_t b4, unsigned qd, unsigned an,
                          unsigned ns, unsigned ar) {
    return U16(id) + std::string{static_cast<char>(b3), static_cast<char>(b4)} + U16(qd) + U16(an) +
           U16(ns) + U16(ar);
}
inline std::string Question(const std::string& name, unsigned type, unsigned cls = 1) {
    return WireName(name) + U16(type) + U16(cls);
}
inline std::string RR(const std::string& ownerWire, unsigned type, uint32_t ttl,
                      const std::string& rdata, unsigned cls = 1) {
    return ownerWire + U16(type) + U16(cls) + U32(ttl) + U16(static_cast<unsigned>(rdata.size())) +
           rdata;
}

}  // namespace kest::test
