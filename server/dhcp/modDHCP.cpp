#include "server/dhcp/modDHCP.h"

#include <algorithm>
#include <utility>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"

namespace modDHCP {
namespace {

constexpr unsigned char kCookie[4] = {99, 130, 83, 99};

uint8_t Byte(std::string_view s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}

// Dotted text as a number; the lease table's addresses are all in the plain form, which is
// read without the general converter's allocations.
uint32_t ToNumber(std::string_view dotted) {
    uint32_t v = 0, part = 0;
    int parts = 0, digits = 0;
    bool plain = true;
    for (char c : dotted) {
        if (c >= '0' && c <= '9' && digits < 3) {
            part = part * 10 + static_cast<uint32_t>(c - '0');
            ++digits;
        } else if (c == '.' && digits > 0 && parts < 3 && part < 256) {
            v = v << 8 | part;
            part = 0;
            digits = 0;
            ++parts;
        } else {
            plain = false;
            break;
        }
    }
    if (plain && parts == 3 && digits > 0 && part < 256) return v << 8 | part;
    const std::string d = modIP::IPToData(dotted);
    uint32_t n = 0;
    for (size_t i = 0; i < 4; ++i) n = n << 8 | (i < d.size() ? Byte(d, i) : 0u);
    return n;
}

std::string FromNumber(uint32_t v) {
    std::string d(4, '\0');
    for (int i = 3; i >= 0; --i, v >>= 8) d[static_cast<size_t>(i)] = static_cast<char>(v & 255);
    return modIP::DataToIP(d);
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

void PutOption(std::string& out, int code, std::string_view value) {
    // An option carries at most 255 bytes.
    value = value.substr(0, 255);
    out += static_cast<char>(code);
    out += static_cast<char>(value.size());
    out.append(value);
}

std::string Long(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(u >> (24 - 8 * i));
    return s;
}

}  // namespace

std::string CleanHostName(std::string_view value) {
    value = value.substr(0, value.find('\0'));
    value = value.substr(0, value.find('.'));
    std::string name = modDNS::CleanName(value);
    if (name.size() > kMaxClientName) name.resize(kMaxClientName);
    while (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

ParseResult ParseMessage(std::string_view data, clDHCPRequest& m) {
    if (data.size() <= kFixedLength || Byte(data, 0) != 1 ||
        !std::equal(kCookie, kCookie + 4, data.begin() + 236,
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }))
        return ParseResult::kNotRequest;
    m.HWType = Byte(data, 1);
    const size_t hlen = std::min<size_t>(Byte(data, 2), kMaxHWAddr);
    m.txID = std::string(data.substr(4, 4));
    m.ClientIP = modIP::DataToIP(data.substr(12, 4));
    m.HWAddr = std::string(data.substr(28, hlen));

    // The end and pad codes have no length byte: test them before reading one.
    size_t p = kFixedLength;
    while (true) {
        if (p >= data.size()) return ParseResult::kTruncated;  // no end option
        const uint8_t code = Byte(data, p);
        if (code == 255) break;
        if (code == 0) {
            ++p;
            continue;
        }
        if (data.size() - p < 2) return ParseResult::kTruncated;
        const size_t len = Byte(data, p + 1);
        if (data.size() - p - 2 < len) return ParseResult::kTruncated;
        const std::string_view value = data.substr(p + 2, len);
        switch (code) {
            case 12:
                m.ClientName = CleanHostName(value);
                break;
            case 50:
                m.ReqIP = modIP::DataToIP(value);
                break;
            case 53:
                m.MessageType = value.empty() ? 0 : Byte(value, 0);
                break;
            case 54:
                m.ServerID = modIP::DataToIP(value);
                break;
            case 61:
                // An empty identifier is malformed: the client is told by its hardware address.
                m.ClientID = std::string(value);
                break;
            default:
                break;
        }
        p += 2 + len;
    }
    return ParseResult::kOk;
}

std::string BuildReply(const clDHCPRequest& m, int type, const std::string& address,
                       const std::string& dnsServer) {
    std::string out;
    out.reserve(kFixedLength + 64 + m.ClientID.size() + m.ClientName.size() +
                m.Interface.Domain.size());
    out += static_cast<char>(2);
    out += static_cast<char>(m.HWType & 255);
    out += static_cast<char>(std::min(m.HWAddr.size(), kMaxHWAddr));
    out += '\0';
    out += m.txID.substr(0, 4);
    out.resize(8, '\0');
    out.append(4, '\0');  // secs, flags
    out += modIP::IPToData(m.ClientIP);
    out += type == kNak ? std::string(4, '\0') : modIP::IPToData(address);
    out.append(8, '\0');  // siaddr, giaddr
    std::string chaddr = m.HWAddr.substr(0, kMaxHWAddr);
    chaddr.resize(kMaxHWAddr, '\0');
    out += chaddr;
    out.append(192, '\0');  // sname, file
    out.append(reinterpret_cast<const char*>(kCookie), 4);

    PutOption(out, 53, std::string(1, static_cast<char>(type)));
    // The identifier is echoed only when the client sent one.
    if (!m.ClientID.empty()) PutOption(out, 61, m.ClientID);
    PutOption(out, 1, modIP::IPToData(m.Interface.Subnet));
    PutOption(out, 54, modIP::IPToData(m.Interface.IPaddr));
    PutOption(out, 51, Long(m.Interface.TTL));
    PutOption(out, 6, modIP::IPToData(dnsServer));
    if (!m.Interface.Gateway.empty() && m.Interface.Gateway != "0.0.0.0")
        PutOption(out, 3, modIP::IPToData(m.Interface.Gateway));
    PutOption(out, 12, m.ClientName + std::string(1, '\0'));
    std::string domain = m.Interface.Domain;
    if (!domain.empty() && domain.back() == '.') domain.pop_back();
    PutOption(out, 15, Upper(domain));
    out += static_cast<char>(255);
    return out;
}

std::vector<clDHCPif> Interfaces(const modMain::Settings& settings) {
    std::vector<clDHCPif> out;
    out.reserve(settings.DHCP.size());
    for (const auto& e : settings.DHCP) out.push_back(clDHCPif::FromEntry(e));
    return out;
}

clDHCPServer::clDHCPServer(DHCPContext ctx) : ctx_(std::move(ctx)) {}

void clDHCPServer::Log(const std::string& text) const {
    if (ctx_.log) ctx_.log(0, text);
}

void clDHCPServer::Count() {
    if (ctx_.totalRequests) *ctx_.totalRequests += 1;
    if (ctx_.secondCounts) kest::CountInSecondRing(*ctx_.secondCounts, ctx_.clock->LocalNow());
}

void clDHCPServer::OnDatagram(int16_t wsIndex, std::string_view data, const std::string& sender) {
    if (ctx_.running && !ctx_.running()) return;
    if (ctx_.doTray) ctx_.doTray(1);
    // Each datagram stands alone: one that is no request is dropped, never joined to the next.
    if (data.size() <= kFixedLength || Byte(data, 0) != 1) return;
    if (!std::equal(kCookie, kCookie + 4, data.begin() + 236,
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }))
        return;
    Arrival(wsIndex, data, sender);
}

void clDHCPServer::Arrival(int16_t wsIndex, std::string_view data, const std::string& sender) {
    try {
        Count();
        clDHCPRequest m;
        m.WSIndex = wsIndex;
        const std::string local = ctx_.socketAddress ? ctx_.socketAddress(wsIndex) : std::string();
        bool found = false;
        for (const auto& e : ctx_.settings->DHCP) {
            if (e.IPaddr == local) {
                m.Interface = clDHCPif::FromEntry(e);
                found = true;
                break;
            }
        }
        if (!found) return;  // a socket without interface has no scope to hand out
        if (ParseMessage(data, m) != ParseResult::kOk) return;
        if (!m.ClientName.empty()) m.DomainName = m.ClientName + "." + m.Interface.Domain;
        if (m.HWAddr.empty()) m.HWAddr = m.ClientID;
        // Neither hardware address nor identifier: nothing tells this client from another.
        if (m.HWAddr.empty()) return;
        if (m.ClientName.empty()) {
            m.ClientName = HWToHex(m.HWAddr).substr(0, kMaxClientName);
            m.DomainName = m.ClientName + "." + m.Interface.Domain;
        }

        switch (m.MessageType) {
            case kDiscover:
                Log("DHCP Discovery from " + m.ClientName +
                    (m.ReqIP.empty() ? std::string() : " (Looking for " + m.ReqIP + ")"));
                Discover(m);
                break;
            case kRequest:
                if (sender == "0.0.0.0" || sender != m.ClientIP) {
                    // Choosing among offers: only the server it names answers.
                    if (!m.ServerID.empty() && m.ServerID == local) {
                        Log("DHCP Lease Request from " + m.ClientName + " for " + m.ReqIP);
                        Request(m);
                    }
                } else {
                    m.ReqIP = sender;
                    Log("DHCP Renewal Request from " + m.ClientName + " for " + m.ReqIP);
                    Request(m);
                }
                break;
            case kDecline:
                Log("DHCP Decline from " + m.ClientName);
                break;
            case kRelease:
                Log("DHCP Release from " + sender);
                ctx_.leases->Release(m.ClientID, m.HWAddr);
                break;
            default:
                break;
        }
    } catch (...) {
        kest::ReportError("modDHCP Arrival");
    }
}

std::string clDHCPServer::FirstFree(const clDHCPif& f, const std::string& name,
                                    bool lenient) const {
    // ValidLease's name tests do not depend on the address: once per pass.
    if (name == ctx_.settings->Name + ".") return {};
    if (f.ScopeFrom.empty() || f.ScopeTo.empty()) return {};
    const uint32_t from = ToNumber(f.ScopeFrom);
    const uint32_t to = ToNumber(f.ScopeTo);
    if (from > to) return {};
    // One mark per scope address: a /16 is 8 KiB, walked in one pass with the table.
    std::vector<bool> taken(static_cast<size_t>(to - from) + 1);
    const double now = ctx_.clock->Now();
    for (const clLease& l : ctx_.leases->Leases()) {
        const bool valid = l.ValidAt(now);
        if (l.ClientName == name && (lenient || valid)) return {};
        if (lenient && !valid) continue;
        const uint32_t v = ToNumber(l.IPaddr);
        if (v >= from && v <= to) taken[v - from] = true;
    }
    const uint32_t own = ToNumber(f.IPaddr);
    for (uint64_t a = from; a <= to; ++a) {
        const auto v = static_cast<uint32_t>(a);
        if (v == 0 || v == own || taken[v - from]) continue;
        return FromNumber(v);
    }
    return {};
}

void clDHCPServer::Discover(clDHCPRequest& m) {
    try {
        clLeases& leases = *ctx_.leases;
        const double now = ctx_.clock->Now();
        leases.RemoveFirstClientID(m.ClientID, m.HWAddr);
        if (leases.ValidLease(m.Interface, m.ReqIP, m.DomainName, true)) {
            leases.Remove(m.ReqIP, m.DomainName);
            leases.Append(clLease{now, m.ReqIP, m.DomainName, m.ClientID, m.HWAddr});
            Send(m, kOffer, m.ReqIP);
            return;
        }
        for (const bool lenient : {false, true}) {
            const std::string address = FirstFree(m.Interface, m.DomainName, lenient);
            if (address.empty()) continue;
            leases.Remove(address, m.DomainName);
            // An offer is stored already expired: DNS does not answer for it yet, but strict
            // searches of other clients pass it by.
            leases.Append(clLease{now - 1.0, address, m.DomainName, m.ClientID, m.HWAddr});
            Send(m, kOffer, address);
            return;
        }
    } catch (...) {
        kest::ReportError("modDHCP Discover");
    }
}

void clDHCPServer::Request(clDHCPRequest& m) {
    try {
        clLeases& leases = *ctx_.leases;
        leases.RemoveFirstClientID(m.ClientID, m.HWAddr);
        if (leases.ValidAddress(m.Interface, m.ReqIP, true)) {
            leases.Remove(m.ReqIP, m.DomainName);
            const double expires = ctx_.clock->Now() + m.Interface.TTL / 86400.0;
            leases.Append(clLease{expires, m.ReqIP, m.DomainName, m.ClientID, m.HWAddr});
            Send(m, kAck, m.ReqIP);
        } else {
            Send(m, kNak, m.ReqIP);
        }
    } catch (...) {
        kest::ReportError("modDHCP Request");
    }
}

void clDHCPServer::Send(const clDHCPRequest& m, int type, const std::string& address) {
    try {
        const std::string& bind = ctx_.settings->DNSBind;
        const std::string dns = bind.empty() || bind == "0.0.0.0" ? m.Interface.IPaddr : bind;
        const std::string reply = BuildReply(m, type, address, dns);
        const char* what = type == kOffer ? "Sending DHCP Offer to "
                           : type == kAck ? "Sending DHCP Acknowledgement to "
                                          : "Sending DHCP Negative to ";
        Log(what + m.ClientName + " for " + address);
        const std::string to = m.ClientIP == "0.0.0.0" ? "255.255.255.255" : m.ClientIP;
        const bool sent = ctx_.sender && ctx_.sender->Send(m.WSIndex, reply, to, kClientPort);
        if (ctx_.doTray) ctx_.doTray(1);
        if (!sent) Log("Winsock Error sending DHCP message.");
    } catch (...) {
        kest::ReportError("modDHCP Send");
    }
}

}  // namespace modDHCP
