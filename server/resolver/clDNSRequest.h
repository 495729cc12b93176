#pragma once
// One client question being answered (the resolver job): it answers from the zone store, then
// from the cache, and otherwise resolves the name itself: it sends queries to the closest known
// name servers (or to the forwarders), follows referrals, starts sub-requests for the addresses of
// name servers that came without them, follows CNAME chains, and finally builds the reply message
// and sends it to the client and to every request that waited for the same question (or, for a
// sub-request, hands the answer to the request that started it).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSAnswer.h"
#include "core/clDNSRecord.h"
#include "core/clock.h"
#include "core/modDNS.h"

class clDNSAuthData;
class clDNSCache;
namespace modMain {
struct Settings;
}

// Sends one UDP datagram from the DNS socket. Tests record what was sent.
class IDatagramSender {
  public:
    struct Failure {
        int number = 0;
        std::string text;
    };
    virtual ~IDatagramSender() = default;
    // fromLocalIp is the address the query reached (empty: let the system choose). False, with
    // failure filled, when the datagram could not be sent.
    virtual bool SendTo(const std::string& data, const std::string& ip, uint16_t port,
                        const std::string& fromLocalIp, Failure& failure) = 0;
};

// The TCP connections of clients that asked over TCP (their requests carry the negative
// connection number as port).
class ITcpAnswerSink {
  public:
    virtual ~ITcpAnswerSink() = default;
    // Hands the message to the busy connection with this number; false when there is none (the
    // client has gone and gets nothing).
    virtual bool SendAnswer(int32_t connectionId, const std::string& message) = 0;
};

// The activity log as the resolver sees it.
class IRequestLog {
  public:
    virtual ~IRequestLog() = default;
    virtual void AddLine(int kind, std::string_view text) = 0;
    // False when a line of this kind would go nowhere: its text is then not built.
    virtual bool Wanted(int kind) const = 0;
};

class clDNSRequest;
using RequestRef = std::shared_ptr<clDNSRequest>;

// The outstanding-request list: recursive requests in arrival order, keyed by RequestKey.
class OutstandingRequests {
  public:
    std::vector<RequestRef>& Items() { return items_; }
    const std::vector<RequestRef>& Items() const { return items_; }
    size_t Size() const { return items_.size(); }
    void Append(RequestRef request) { items_.push_back(std::move(request)); }
    // The request with that key, or null.
    RequestRef Find(std::string_view key) const;
    void Clear() { items_.clear(); }

  private:
    std::vector<RequestRef> items_;
};

// Buffers reused from one reply to the next (one thread, one reply built at a time).
struct ReplyScratch {
    std::string message;
    modDNS::ZipIndex zip;
    std::vector<uint32_t> order;  // RoundRobin's order table, grown to the section's size
    std::string query;            // the query message being sent to another server
};

// Random numbers for query IDs and the choice among equal servers.
class IRandom {
  public:
    virtual ~IRandom() = default;
    virtual uint32_t Next32() = 0;
    // Uniform in 0 .. n - 1 (n > 0).
    uint32_t Below(uint32_t n);
};

// The system's cryptographic source (getrandom), read in blocks.
class SystemRandom : public IRandom {
  public:
    uint32_t Next32() override;

  private:
    uint32_t pool_[64] = {};
    size_t left_ = 0;
};

// Starts a request (the intake's CreateRequest): id, rd, name, type, ip, port, level.
using CreateRequestFn = std::function<void(int32_t, bool, const std::string&, int32_t,
                                           const std::string&, int32_t, int16_t)>;

// What every request needs of the server. Pointers that may be null: cache, zones, tcp, log.
struct ResolverContext {
    const modMain::Settings* settings = nullptr;
    const kest::IClock* clock = nullptr;
    const std::vector<std::string>* localIPs = nullptr;
    clDNSAuthData* zones = nullptr;
    clDNSCache* cache = nullptr;
    IRequestLog* log = nullptr;
    IDatagramSender* sender = nullptr;
    ITcpAnswerSink* tcp = nullptr;
    std::function<void(int icon)> doTray;
    OutstandingRequests* outstanding = nullptr;
    CreateRequestFn createRequest;  // empty: no sub-request can be started
    IRandom* random = nullptr;      // null: systemRandom
    SystemRandom systemRandom;
    ReplyScratch scratch;

    IRandom& Random() { return random ? *random : systemRandom; }
};

// One query sent to another server for the current step. Name and Type (additions) are the
// question it asked: a reply must repeat it to be taken.
struct clDNSRequestOut {
    int32_t Id = 0;
    std::string IP;
    std::string Name;
    int32_t Type = 0;
};

// A candidate name server for the current step.
struct clNServ {
    std::string Name;   // "Forward-DNS" for a forwarder
    std::string IP;     // empty until known
    int16_t Count = 0;  // queries sent to it so far (saturates)
    std::string FromCNAME;
    int16_t Hops = 0;  // CNAMEs followed to reach Name (an addition: a chain is cut after 8)
};

// A fresh query ID in 1 .. 32767 drawn from random, one that no query still waiting for its
// reply uses.
int32_t NextQueryId(const OutstandingRequests& outstanding, IRandom& random);

class clDNSRequest {
  public:
    explicit clDNSRequest(ResolverContext& context) : ctx_(context) {}
    clDNSRequest(const clDNSRequest&) = delete;
    clDNSRequest& operator=(const clDNSRequest&) = delete;

    // Public members, in their long-standing order.
    std::string RequestKey;  // seven digits and "K"; only for requests with recursion desired
    int32_t RequestID = 0;   // the client's message ID; a sub-request's mode
    bool RequestRD = false;
    std::string RequestName;
    int32_t RequestType = 0;  // full 16-bit question type
    std::string RequestIP;    // the client's address; a sub-request's parent key
    int32_t RequestPort = 0;  // negative: the TCP connection number, negated; 0: a sub-request
    std::vector<RequestRef> TagRequests;
    std::vector<clDNSRequestOut> OpenRqOut;
    int16_t State = 0;  // 0 working, 1 waiting for a server, 2 waiting for a sub-request, 9 done
    double TimeOut = 0;
    int16_t Level = 0;
    // Additions: the local address the query reached (the reply leaves from it), and whether this
    // client may have recursion (decided by ProcRequest, or by Permission before it).
    std::string RequestLocalIP;
    bool Recursion = false;

    // Starts the request once the members are set; it answers the client itself and ends in
    // State 9.
    void ProcRequest();
    // Sends the next query, or gives up.
    void AskNS();
    // A reply of a server that matched one of OpenRqOut (ID, sender and question). Records may
    // be removed from rtAns (SpoofSecure, referral filtering).
    void ProcAnswer(clDNSAnswer& rtAns);
    // Makes rtAns this request's reply and sends it.
    void TagReply(const clDNSAnswer& rtAns);
    // Takes in a name server's address (the answer of a look-up or sub-request for name).
    void AddNSAns(const clDNSAnswer& rtAns, const std::string& name);
    // The main timer, once a second: a request that has waited out its TimeOut asks on, and one
    // unfinished MinTimeOut + 60 seconds after it started ends with server failure.
    void TimeTick();

    // The candidate servers and their zone (for tests).
    const std::vector<clNServ>& Servers() const { return servers_; }
    const std::string& ServerZone() const { return serverZone_; }
    const std::string& CurrentName() const { return currentName_; }
    double StartTime() const { return startTime_; }

    // The recursion permission of a client (DNSRecursion, own addresses, sub-requests).
    static bool Permission(const modMain::Settings& settings,
                           const std::vector<std::string>& localIPs, std::string_view ip,
                           int level);
    bool Permission() const;

    // The reply as it stands (for the TCP handler and tests).
    const clDNSAnswer& Reply() const { return reply_; }

    // ---- Reply building, public for tests -----------------------------------------------------
    // Folds CNAME records of sections 2 to 4 into their targets (AutoCNAME).
    static void CNAMERes(clDNSAnswer& reply, double now);
    // Fills order with the sending order of a section: order[j] is the 0-based index of the
    // record sent j-th. Runs of A records of one name rotate through their first record's RoRo.
    static void RoundRobin(const RecordList& section, std::vector<uint32_t>& order);

    struct ReplyHeader {
        int32_t id = 0;
        bool rd = false;
        std::string_view name;
        int32_t type = 0;
    };
    // Builds the reply message into scratch.message and returns it. Records that cannot be
    // written faithfully (unencodable names, data shorter than the type's form, marker types) are
    // left out and not counted. With log set and its kind 1 wanted, each record sent is logged.
    static const std::string& BuildMessage(const ReplyHeader& header, const clDNSAnswer& reply,
                                           double now, ReplyScratch& scratch, IRequestLog* log);

  private:
    void ProcStep1();
    void FillSection(const clDNSAnswer& x);
    bool RedoCNAME();
    void ClearReferral();
    void FillNSCol(const clDNSAnswer& x);
    void AttachAddresses(const RecordList& additional);
    void AddServer(clNServ server);
    void SendQuery(size_t index, int16_t m);
    bool IsSelf(const std::string& ip) const;
    bool PastDeadline() const;
    void GiveUp();
    void DropSender(const std::string& ip);
    void SendReply();
    void SendToClient();
    void SendToParent();
    double Now() const;
    bool Wanted(int kind) const;
    void Log(int kind, std::string_view text) const;

    ResolverContext& ctx_;
    clDNSAnswer reply_;
    std::string currentName_;
    double startTime_ = 0;
    std::vector<clNServ> servers_;
    std::string serverZone_;
    int cnameSteps_ = 0;    // CNAME targets followed after replies of servers
    bool inAskNS_ = false;  // a sub-request that ends at once asks AskNS to go on
    bool resumeAsk_ = false;
};
