#pragma once
// The DHCP server: parses what clients send on the DHCP sockets, offers and acknowledges
// addresses from the interface's scope through the lease table, and builds the replies.
// Single-threaded like the rest of the server; no state beyond the lease table.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "server/dhcp/clDHCPif.h"
#include "server/dhcp/clLease.h"
#include "server/settings.h"

namespace modDHCP {

inline constexpr uint16_t kServerPort = 67;
inline constexpr uint16_t kClientPort = 68;
inline constexpr size_t kMaxSockets = 10;
// Fixed part of a message: 236 bytes of header and the 4-byte magic cookie.
inline constexpr size_t kFixedLength = 240;
inline constexpr size_t kMaxHWAddr = 16;
inline constexpr size_t kMaxClientName = 63;  // one DNS label

// Message types.
enum : int {
    kDiscover = 1,
    kOffer = 2,
    kRequest = 3,
    kDecline = 4,
    kAck = 5,
    kNak = 6,
    kRelease = 7,
};

// One received message.
class clDHCPRequest {
  public:
    int16_t WSIndex = 0;     // DHCP socket it came in on, from 1
    clDHCPif Interface;      // the interface of that socket
    std::string DomainName;  // ClientName "." Domain
    std::string txID;        // xid, 4 bytes
    int16_t HWType = 0;
    std::string HWAddr;      // first hlen (at most 16) bytes of chaddr
    std::string ClientIP;    // ciaddr, dotted
    std::string ClientID;    // option 61, raw; empty when absent
    std::string ClientName;  // cleaned host name, one label
    std::string ReqIP;       // option 50, dotted; empty when absent
    // Not kept by the original message object but read by Arrival.
    int MessageType = 0;   // option 53
    std::string ServerID;  // option 54, dotted; empty when absent
};

// How a reply leaves: from DHCP socket wsIndex to ip:port. False when the socket refused it.
class IDHCPSender {
  public:
    virtual ~IDHCPSender() = default;
    virtual bool Send(int16_t wsIndex, const std::string& data, const std::string& ip,
                      uint16_t port) = 0;
};

// What the DHCP server needs of the server. settings, clock and leases are required.
struct DHCPContext {
    const modMain::Settings* settings = nullptr;
    const kest::IClock* clock = nullptr;
    clLeases* leases = nullptr;
    std::function<void(int kind, std::string_view text)> log;
    IDHCPSender* sender = nullptr;
    // The local address of DHCP socket i: the IPaddr of the interface it was opened for.
    std::function<std::string(int16_t)> socketAddress;
    std::function<bool()> running;  // empty: always running
    std::function<void(int icon)> doTray;
    double* totalRequests = nullptr;
    std::array<int16_t, 60>* secondCounts = nullptr;
};

// The option walk's result for a message that must not be answered.
enum class ParseResult { kOk, kNotRequest, kTruncated };

// Reads the fixed fields and the options of a whole datagram into m (Interface and the names
// are left to the caller). kNotRequest for a message shorter than 241 bytes, without the magic
// cookie or not op 1; kTruncated when an option runs past the end or the end option is missing.
ParseResult ParseMessage(std::string_view data, clDHCPRequest& m);

// The host name of option 12 as kept: cut at its first 0 byte, first label, cleaned, at most
// 63 bytes.
std::string CleanHostName(std::string_view value);

// The reply bytes for m: type 2, 5 or 6, address the offered or acknowledged one. dnsServer is
// what option 6 carries.
std::string BuildReply(const clDHCPRequest& m, int type, const std::string& address,
                       const std::string& dnsServer);

class clDHCPServer {
  public:
    explicit clDHCPServer(DHCPContext ctx);

    // The DHCP socket's data event: one datagram, parsed on its own.
    void OnDatagram(int16_t wsIndex, std::string_view data, const std::string& sender);

    // Parses a whole datagram and answers it. The interfaces are those of the settings.
    void Arrival(int16_t wsIndex, std::string_view data, const std::string& sender);
    void Discover(clDHCPRequest& m);
    void Request(clDHCPRequest& m);
    void Send(const clDHCPRequest& m, int type, const std::string& address);

    // The scope's first address that the name may have, strict or lenient: the same answer as
    // ValidLease over ScopeFrom..ScopeTo in order, in one pass over the lease table. Empty when
    // none.
    std::string FirstFree(const clDHCPif& f, const std::string& name, bool lenient) const;

  private:
    void Log(const std::string& text) const;
    void Count();

    DHCPContext ctx_;
};

// The interfaces of the settings, in order.
std::vector<clDHCPif> Interfaces(const modMain::Settings& settings);

}  // namespace modDHCP
