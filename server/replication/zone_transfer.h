#pragma once
// Full zone transfers out of the zone store over one TCP connection: the SOA, every other record
// in store order, the SOA again; several records per message (the "MS" request of our own
// transfer client) or one record per message. Also the framing shared by every TCP message.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/clDNSRecord.h"
#include "core/modDNS.h"

class clDNSAuthData;

// The output of one TCP connection as the transfer server sees it.
class IZTSocket {
  public:
    struct Failure {
        int number = 0;
        std::string text;
    };
    virtual ~IZTSocket() = default;
    // Queues bytes for the peer; false (nothing queued, failure filled) when that is impossible.
    virtual bool Send(const std::string& bytes, Failure& failure) = 0;
    virtual void Close() = 0;
    // Bytes queued and not yet taken by the kernel.
    virtual size_t PendingSendBytes() const = 0;
};

namespace modZT {

// Every message on a TCP connection goes with its length as an unsigned 16-bit prefix.
inline constexpr size_t kMaxTcpMessage = 0xFFFF;
// A message whose announced length passes this is not a request of any kind we serve.
inline constexpr size_t kMaxTcpRequest = 32765;
// With several records per message, a new message starts once the one being built passes this.
inline constexpr size_t kMessageFill = 1000;

// The message with its length prefix; "" when it is too long to frame.
std::string Framed(std::string_view message);

// Appends one answer record to a message being built (owner, type, class 1, the record's mTTL,
// data length, data with its names compressed against the message). False, with the message
// unchanged, when the record has no faithful wire form (bad name, data shorter than its type).
bool AppendRecord(std::string& message, const clDNSRecord& rec, modDNS::ZipIndex& zip);

// Header and question of a transfer message: ID, flags 0x84 (+ 0x01 for rd) and 0, QDCOUNT 1,
// the other counts 0, the zone name with type 252 and class 1. "" when the name cannot be encoded.
std::string TransferHeader(int32_t id, bool rd, std::string_view zoneName, modDNS::ZipIndex& zip);

using LogFn = std::function<void(int kind, std::string_view text)>;

struct TransferHooks {
    LogFn log;
    std::function<void()> activity;  // marks activity (the tray)
};

// Serves a transfer request: the zone's records, or a refusal (response code 5) when the zone is
// not held, is secure and the requester is not in its NOTIFY list, or has no SOA. False when a
// send failed (the connection should then be closed: the peer cannot make sense of the rest).
bool ZoneTransfer(clDNSAuthData& zones, const TransferHooks& hooks, int32_t id, bool rd,
                  const std::string& zoneName, bool severalPerMessage, const std::string& requester,
                  IZTSocket& socket);

}  // namespace modZT
