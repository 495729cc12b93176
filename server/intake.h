#pragma once
// Request intake of the DNS socket: the block list and the flood check, the checks and log lines
// of a query, the not-implemented reply, and CreateRequest, which turns a query into a resolver
// job or tags it onto a waiting job with the same question. Owns the outstanding-request list,
// the block list (blocks.dat) and the flood state. The server object owns one and calls
// OnDatagram from its DNS socket handler.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/clock.h"
#include "platform/host.h"
#include "server/activity_log.h"
#include "server/resolver/clDNSRequest.h"
#include "server/settings.h"

class clDNSAuthData;
class clDNSCache;
namespace platform {
class UdpSocket;
struct Datagram;
}  // namespace platform

namespace modMain {

// The zone transfer client's SOA query (replication): a reply that matches no resolver request
// may be its answer.
class ISoaReplyClient {
  public:
    virtual ~ISoaReplyClient() = default;
    // True when the reply answers the SOA query now outstanding (its ID, sender and zone).
    virtual bool ExpectsReply(const clDNSAnswer& answer, const std::string& ip) const = 0;
    // The matching reply, after it was cached.
    virtual void TakeReply(const clDNSAnswer& answer) = 0;
};

// What the intake needs of the server. Only settings, clock and log are required; a null sender
// sends nothing, a null pump lets nothing run, null statistics are not counted.
struct IntakeContext {
    const Settings* settings = nullptr;
    const kest::IClock* clock = nullptr;
    ActivityLog* log = nullptr;
    platform::IEventPump* pump = nullptr;
    const std::vector<std::string>* localIPs = nullptr;
    clDNSAuthData* zones = nullptr;
    clDNSCache* cache = nullptr;
    IDatagramSender* sender = nullptr;
    ITcpAnswerSink* tcp = nullptr;
    std::function<bool()> running;  // empty: always running
    std::function<void(int icon)> doTray;
    double* totalRequests = nullptr;
    std::array<int16_t, 60>* secondCounts = nullptr;
    std::filesystem::path programDir;      // blocks.dat lives here
    ISoaReplyClient* soaClient = nullptr;  // null: no SOA query is ever outstanding
};

// The DNS sockets as a sender; the socket is looked up at each send (by destination and source
// address), since the server makes new ones at every start.
class UdpSocketSender : public IDatagramSender {
  public:
    using SocketChooser =
        std::function<platform::UdpSocket*(const std::string& ip, const std::string& fromLocalIp)>;
    explicit UdpSocketSender(SocketChooser socket) : socket_(std::move(socket)) {}
    bool SendTo(const std::string& data, const std::string& ip, uint16_t port,
                const std::string& fromLocalIp, Failure& failure) override;

  private:
    SocketChooser socket_;
};

class RequestIntake {
  public:
    static constexpr size_t kMaxOutstanding = 100;
    static constexpr const char* kBlocksFileName = "blocks.dat";
    static constexpr const char* kBlocksHeader = "; Kestrune - IP address blocks";

    explicit RequestIntake(IntakeContext context);
    ~RequestIntake();
    RequestIntake(const RequestIntake&) = delete;
    RequestIntake& operator=(const RequestIntake&) = delete;

    // A datagram on the DNS socket: dropped while not running or when shorter than 12 bytes,
    // then the block list, the flood check (queries only), and a query goes to ProcDNSRequest,
    // a reply to ProcDNSAnswer.
    void OnDatagram(const platform::Datagram& datagram);

    // A reply datagram from ip: decoded and logged, then given to the waiting request whose
    // query it answers (same ID, sent to ip, same question). Only such a reply (or the SOA
    // client's) is cached on arrival; any other is dropped.
    void ProcDNSAnswer(const std::string& ip, const std::string& data);

    // The main timer's step: every outstanding request gets its TimeTick (retries and the
    // final time-out), walking a copy of the list.
    void TimeOuts();

    // A query datagram from ip:port that reached localIp.
    void ProcDNSRequest(const std::string& ip, int32_t port, const std::string& data,
                        const std::string& localIp = {});

    // Starts a resolver job, or tags it onto a waiting job with the same question and the same
    // recursion permission. A level-0 job beyond 100 outstanding ones is dropped silently.
    void CreateRequest(int32_t id, bool rd, const std::string& name, int32_t qtype,
                       const std::string& ip, int32_t port, int16_t level,
                       const std::string& localIp = {});

    // Counts a request in the statistics (total and per second); TCP requests are counted too.
    void CountRequest();

    // ---- Outstanding requests ----
    OutstandingRequests& Outstanding() { return outstanding_; }
    // Pausing the service forgets every waiting job.
    void ClearOutstanding() { outstanding_.Clear(); }
    // The last key handed out (0 to 999999).
    int32_t KeyCounter() const { return keyCounter_; }
    void SetKeyCounter(int32_t value) { keyCounter_ = value; }

    // ---- Block list ----
    const std::vector<std::string>& Blocks() const { return blocks_; }
    // Replaces the list (the options dialog); saved soon after.
    void SetBlocks(std::vector<std::string> blocks);
    bool IsBlocked(std::string_view ip) const;
    std::filesystem::path BlocksFile() const;
    // Appends the addresses of blocks.dat to the list; nothing when the file cannot be read.
    void LoadBlocks();
    // Replaces blocks.dat atomically; false (after an error report) when it could not be written.
    bool SaveBlocks();
    // Saves the list when it changed since the last save (called from the timer tick).
    void SaveBlocksIfChanged();
    bool BlocksChanged() const { return blocksChanged_; }

    // ---- Flood state ----
    const std::string& LastIP() const { return lastIP_; }
    int32_t RunCount() const { return runCount_; }

    // The context every job gets (for the timer's retries and the tests).
    ResolverContext& Resolver() { return resolver_; }

  private:
    class LogAdapter;
    bool FloodCheck(const std::string& ip);
    void NotImplemented(const std::string& ip, int32_t port, const std::string& data,
                        const std::string& localIp, const std::string& description);
    bool Running() const;

    RequestRef MatchReply(const clDNSAnswer& answer, const std::string& ip) const;

    IntakeContext ctx_;
    std::unique_ptr<LogAdapter> logAdapter_;
    ResolverContext resolver_;
    OutstandingRequests outstanding_;
    int32_t keyCounter_ = 0;

    std::vector<std::string> blocks_;
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_set<std::string, TextHash, std::equal_to<>> blockSet_;  // for the look-up
    bool blocksChanged_ = false;

    std::string lastIP_;
    int32_t runCount_ = 0;
    int64_t runStartMs_ = 0;
    std::string reply_;   // the not-implemented reply, reused
    clDNSAnswer answer_;  // the reply being decoded, reused
    bool answerBusy_ = false;
};

}  // namespace modMain
