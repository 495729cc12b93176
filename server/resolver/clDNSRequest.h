#pragma once
// One client question being answered (the resolver job): it answers from the zone store, then
// from the cache, follows CNAME chains, builds the reply message and sends it to the client and to
// every request that waited for the same question.
//
// Queries to other servers are not built yet: where a request would ask one, AskNS gives up as
// when no server is known (server failure, or the CNAME chain found so far).
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
};

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
    ReplyScratch scratch;
};

// One query sent to another server for the current step.
struct clDNSRequestOut {
    int32_t Id = 0;
    std::string IP;
};

class clDNSRequest {
  public:
    explicit clDNSRequest(ResolverContext& context) : ctx_(context) {}
    clDNSRequest(const clDNSRequest&) = delete;
    clDNSRequest& operator=(const clDNSRequest&) = delete;

    // Members in the design's declaration order.
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
    // Sends the next query, or gives up. Queries to other servers come with the resolver's next
    // step; until then the request ends as with an empty server list.
    void AskNS();
    // Makes rtAns this request's reply and sends it.
    void TagReply(const clDNSAnswer& rtAns);

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
    void SendReply();
    void SendToClient();
    double Now() const;
    bool Wanted(int kind) const;
    void Log(int kind, std::string_view text) const;

    ResolverContext& ctx_;
    clDNSAnswer reply_;
    std::string currentName_;
    double startTime_ = 0;
};
