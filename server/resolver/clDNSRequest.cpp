#include "server/resolver/clDNSRequest.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <random>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"
#include "server/resolver/clDNSCache.h"
#include "server/settings.h"

namespace {

constexpr int32_t kTypeA = modDNS::kTypeA;
constexpr int32_t kTypeCNAME = modDNS::kTypeCNAME;
constexpr int32_t kTypeANY = modDNS::kTypeANY;

// A CNAME chain is bounded by the records it visits; this only guards against a store that
// hands back records of another name.
constexpr int kMaxChainSteps = 1000;

// Log kinds: events and queries to other servers (the records of a reply, kind 1, are logged by
// the reply writer).
constexpr int kLogEvent = 0;
constexpr int kLogOutside = 2;

constexpr int32_t kMaxQueryId = 32767;
constexpr int16_t kMaxCount = 32767;
// Sub-requests nest at most this deep.
constexpr int16_t kMaxLevel = 3;
// A name server reached through more CNAMEs than this is dropped.
constexpr int16_t kMaxServerHops = 8;
// Candidates kept for one step: a delegation has a handful; a reply listing thousands must not
// make every step walk them all.
constexpr size_t kMaxServers = 64;
// Sent queries remembered for one step (older ones are long past their time).
constexpr size_t kMaxOpenQueries = 32;
// CNAME targets followed after servers' replies; a chain of fresh names ends here.
constexpr int kMaxCnameSteps = 32;
// Guard of AskNS's loop; every pass removes or resolves a candidate, so it is never reached.
constexpr int kMaxAskPasses = 100000;
// A request still unfinished this long after MinTimeOut has passed ends with server failure.
constexpr int32_t kGiveUpGrace = 60;

bool Within(std::string_view name, std::string_view zone) {
    // A plain suffix test on the names with one "." appended: every name lies within ".".
    if (zone == "." || zone.empty()) return true;
    if (name.size() < zone.size()) return false;
    return name.substr(name.size() - zone.size()) == zone &&
           (name.size() == zone.size() || name[name.size() - zone.size() - 1] == '.');
}

}  // namespace

RequestRef OutstandingRequests::Find(std::string_view key) const {
    for (const RequestRef& r : items_) {
        if (r && r->RequestKey == key) return r;
    }
    return nullptr;
}

// ---- Random numbers and query IDs ---------------------------------------------------------------

uint32_t IRandom::Below(uint32_t n) {
    if (n <= 1) return 0;
    // Rejection keeps the choice uniform.
    const uint32_t limit =
        std::numeric_limits<uint32_t>::max() - std::numeric_limits<uint32_t>::max() % n;
    for (;;) {
        const uint32_t v = Next32();
        if (v < limit) return v % n;
    }
}

uint32_t SystemRandom::Next32() {
    if (left_ == 0) {
        size_t got = 0;
        auto* bytes = reinterpret_cast<char*>(pool_);
        while (got < sizeof pool_) {
            const ssize_t n = ::getrandom(bytes + got, sizeof pool_ - got, 0);
            if (n > 0) {
                got += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
        if (got < sizeof pool_) {
            // No system source: still unpredictable enough to vary, never a fixed sequence.
            std::random_device device;
            std::seed_seq seed{
                device(), device(),
                static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
            std::mt19937 gen(seed);
            for (uint32_t& v : pool_) v = gen();
        }
        left_ = std::size(pool_);
    }
    return pool_[--left_];
}

int32_t NextQueryId(const OutstandingRequests& outstanding, IRandom& random) {
    int32_t id = 1;
    // With at most a few thousand queries out, a free ID turns up within a few draws.
    for (int attempt = 0; attempt < 64; ++attempt) {
        id = static_cast<int32_t>(random.Below(kMaxQueryId)) + 1;
        bool used = false;
        for (const RequestRef& r : outstanding.Items()) {
            if (!r || r->State == 9) continue;
            for (const clDNSRequestOut& q : r->OpenRqOut) {
                if (q.Id == id) {
                    used = true;
                    break;
                }
            }
            if (used) break;
        }
        if (!used) return id;
    }
    return id;
}

// ---- Permission ------------------------------------------------------------------------------

bool clDNSRequest::Permission(const modMain::Settings& settings,
                              const std::vector<std::string>& localIPs, std::string_view ip,
                              int level) {
    const std::string& pattern = settings.DNSRecursion;
    if (pattern == "<all>" || ip == "127.0.0.1" || level >= 1) return true;
    if (std::find(localIPs.begin(), localIPs.end(), ip) != localIPs.end()) return true;
    if (pattern == "<none>") return false;
    // Everything before the first "*" must match; a pattern without one matches as a prefix.
    const size_t p = std::min(pattern.find('*'), pattern.size());
    return ip.substr(0, p) == std::string_view(pattern).substr(0, p);
}

bool clDNSRequest::Permission() const {
    static const std::vector<std::string> kNone;
    return Permission(*ctx_.settings, ctx_.localIPs ? *ctx_.localIPs : kNone, RequestIP, Level);
}

// ---- Resolution ------------------------------------------------------------------------------

double clDNSRequest::Now() const {
    return ctx_.clock->Now();
}

bool clDNSRequest::Wanted(int kind) const {
    return ctx_.log && ctx_.log->Wanted(kind);
}

void clDNSRequest::Log(int kind, std::string_view text) const {
    if (ctx_.log) ctx_.log->AddLine(kind, text);
}

void clDNSRequest::ProcRequest() {
    try {
        reply_ = clDNSAnswer{};
        startTime_ = Now();
        State = 0;
        currentName_ = RequestName;
        servers_.clear();
        serverZone_.clear();
        OpenRqOut.clear();
        cnameSteps_ = 0;
        Recursion = Permission();
        reply_.RA = Recursion;
        ProcStep1();
    } catch (...) {
        kest::ReportError("clDNSRequest ProcRequest");
    }
}

void clDNSRequest::ProcStep1() {
    try {
        for (int step = 0;; ++step) {
            if (step >= kMaxChainSteps) {
                SendReply();
                return;
            }
            clDNSAnswer a;
            if (ctx_.zones) a = ctx_.zones->Ask(currentName_, RequestType, false);
            if (a.AA) {
                const bool chainGoesOn = !a.Section2.empty() && a.RCode == 0;
                if (!reply_.Section2.empty()) {
                    ClearReferral();
                    FillSection(a);
                } else {
                    a.RA = reply_.RA;
                    reply_ = std::move(a);
                }
                if (chainGoesOn && RedoCNAME()) continue;
                SendReply();
                return;
            }

            clDNSAnswer c;
            if (ctx_.cache) c = ctx_.cache->Ask(currentName_, RequestType, false);
            if (c.Section2.empty() && c.RCode == 0 && !c.AA) {
                // The cache knows nothing about the question.
                if (!reply_.RA || !RequestRD) {
                    // No recursion: an own zone's delegation, else the closest cached servers.
                    FillSection(!a.Section3.empty() ? a : c);
                    SendReply();
                    return;
                }
                if (ctx_.settings->RecursionOut) {
                    servers_.clear();
                    OpenRqOut.clear();
                    for (const std::string& ip : ctx_.settings->NS) {
                        AddServer({"Forward-DNS", ip, 0, {}, 0});
                    }
                    serverZone_ = ".";
                    AskNS();
                    return;
                }
                if (Level > 0 && RequestID == 1) {
                    // The delegation lacked the server's address: start again from the root.
                    RequestID = 2;
                    clDNSAnswer roots;
                    if (ctx_.cache) roots = ctx_.cache->Ask(".", kTypeA, false);
                    FillNSCol(roots);
                    AskNS();
                    return;
                }
                if (a.Section3.empty() && c.Section3.empty()) {
                    if (reply_.Section2.empty()) reply_.RCode = 2;
                    SendReply();
                    return;
                }
                // The deeper delegation wins; on a tie the own zone's.
                if (c.Section3.empty()) {
                    FillNSCol(a);
                } else if (a.Section3.empty()) {
                    FillNSCol(c);
                } else {
                    const size_t la = a.Section3.front() ? a.Section3.front()->Name.size() : 0;
                    const size_t lc = c.Section3.front() ? c.Section3.front()->Name.size() : 0;
                    FillNSCol(la >= lc ? a : c);
                }
                AskNS();
                return;
            }

            const bool chainGoesOn = !c.Section2.empty() && c.RCode == 0;
            if (!reply_.Section2.empty()) {
                ClearReferral();
                FillSection(c);
            } else {
                c.RA = reply_.RA;
                reply_ = std::move(c);
            }
            if (chainGoesOn && RedoCNAME()) continue;
            SendReply();
            return;
        }
    } catch (...) {
        kest::ReportError("clDNSRequest ProcStep1");
    }
}

bool clDNSRequest::PastDeadline() const {
    const double grace = std::max(0, ctx_.settings->MinTimeOut) + static_cast<double>(kGiveUpGrace);
    return Now() >= startTime_ + grace * kest::kSecond;
}

void clDNSRequest::GiveUp() {
    ClearReferral();
    reply_.RCode = 2;
    SendReply();
}

void clDNSRequest::TimeTick() {
    try {
        if (State == 9) return;
        if (State != 0 && PastDeadline()) {
            GiveUp();
            return;
        }
        if (State == 1 && TimeOut < Now()) AskNS();
    } catch (...) {
        kest::ReportError("clDNSRequest AskNS");
    }
}

bool clDNSRequest::IsSelf(const std::string& ip) const {
    if (ip == "127.0.0.1") return true;
    const std::string& bind = ctx_.settings->DNSBind;
    if (!bind.empty()) return ip == bind;
    return ctx_.localIPs &&
           std::find(ctx_.localIPs->begin(), ctx_.localIPs->end(), ip) != ctx_.localIPs->end();
}

void clDNSRequest::AddServer(clNServ server) {
    if (servers_.size() < kMaxServers) servers_.push_back(std::move(server));
}

void clDNSRequest::AskNS() {
    try {
        if (State == 9) return;
        if (PastDeadline()) {
            GiveUp();
            return;
        }
        // A sub-request whose parent has gone (paused, finished) has nobody to tell.
        if (Level > 0 && TagRequests.empty()) {
            const RequestRef parent =
                ctx_.outstanding ? ctx_.outstanding->Find(RequestIP) : nullptr;
            if (!parent || parent->State == 9) {
                State = 9;
                return;
            }
        }
        IRandom& random = ctx_.Random();
        for (int pass = 0; pass < kMaxAskPasses; ++pass) {
            State = 1;
            if (servers_.empty()) {
                if (reply_.Section2.empty()) reply_.RCode = 2;
                SendReply();
                return;
            }
            int16_t m = kMaxCount;
            for (const clNServ& s : servers_) m = std::min(m, s.Count);

            // A server with a known address among the least asked.
            size_t withAddress = 0;
            for (const clNServ& s : servers_) withAddress += !s.IP.empty() && s.Count <= m;
            if (withAddress > 0) {
                uint32_t pick = random.Below(static_cast<uint32_t>(withAddress));
                size_t index = 0;
                for (; index < servers_.size(); ++index) {
                    const clNServ& s = servers_[index];
                    if (s.IP.empty() || s.Count > m) continue;
                    if (pick == 0) break;
                    --pick;
                }
                if (IsSelf(servers_[index].IP)) {
                    Log(kLogEvent, "** Error: Lame delegation on this server (" +
                                       servers_[index].IP + ") for " + serverZone_);
                    servers_.erase(servers_.begin() + static_cast<std::ptrdiff_t>(index));
                    continue;
                }
                SendQuery(index, m);
                return;
            }

            // No address known: look the least asked servers up in own data and the cache.
            bool found = false;
            for (size_t i = 0; i < servers_.size() && !found; ++i) {
                if (servers_[i].Count != m) continue;
                const std::string name = servers_[i].Name;
                if (ctx_.zones) {
                    const clDNSAnswer z = ctx_.zones->Ask(name, kTypeA, true);
                    if (z.AA) {
                        AddNSAns(z, name);
                        found = true;
                        break;
                    }
                }
                if (ctx_.cache) {
                    const clDNSAnswer c = ctx_.cache->Ask(name, kTypeA, true);
                    if (!c.Section2.empty() || c.RCode > 0) {
                        AddNSAns(c, name);
                        found = true;
                    }
                }
            }
            if (found) continue;

            if (Level >= kMaxLevel || !ctx_.createRequest) {
                // Too deep for another sub-request: drop the servers that cannot be reached.
                std::erase_if(servers_, [m](const clNServ& s) { return s.Count == m; });
                continue;
            }
            size_t count = 0;
            for (const clNServ& s : servers_) count += s.Count <= m;
            uint32_t pick = random.Below(static_cast<uint32_t>(count));
            size_t index = 0;
            for (; index < servers_.size(); ++index) {
                if (servers_[index].Count > m) continue;
                if (pick == 0) break;
                --pick;
            }
            const std::string name = servers_[index].Name;
            int32_t mode = 0;
            if (Within(name, serverZone_)) {
                // Its address should have come with the delegation.
                if (Level != 0 && RequestID == 2) {
                    servers_.erase(servers_.begin() + static_cast<std::ptrdiff_t>(index));
                    continue;
                }
                mode = 1;
            }
            State = 2;
            // A sub-request that ends at once hands its answer over inside CreateRequest; the
            // loop then goes on here instead of nesting one AskNS in another.
            inAskNS_ = true;
            resumeAsk_ = false;
            const CreateRequestFn create = ctx_.createRequest;
            create(mode, true, name, kTypeA, RequestKey, 0, static_cast<int16_t>(Level + 1));
            inAskNS_ = false;
            if (!resumeAsk_ || State == 9) return;
            resumeAsk_ = false;
            if (PastDeadline()) {
                GiveUp();
                return;
            }
        }
        GiveUp();
    } catch (...) {
        inAskNS_ = false;
        kest::ReportError("clDNSRequest AskNS");
    }
}

void clDNSRequest::SendQuery(size_t index, int16_t m) {
    const double now = Now();
    const double wait = servers_.size() == 1 ? 0.5 * kest::kSecond : 0;
    clNServ& chosen = servers_[index];
    chosen.Count = static_cast<int16_t>(std::min<int32_t>(m + 1, kMaxCount));
    const double patience = std::max(0, ctx_.settings->MinTimeOut) * kest::kSecond;
    // Its last query: the server leaves the list once this one is out.
    const bool last = m > 3 && (Level > 0 || startTime_ < now - patience);

    const int32_t id = ctx_.outstanding
                           ? NextQueryId(*ctx_.outstanding, ctx_.Random())
                           : static_cast<int32_t>(ctx_.Random().Below(kMaxQueryId)) + 1;
    if (OpenRqOut.size() >= kMaxOpenQueries) OpenRqOut.erase(OpenRqOut.begin());
    OpenRqOut.push_back({id, chosen.IP, currentName_, RequestType});
    const std::string& ip = OpenRqOut.back().IP;

    // Header, then the question with its name written out (there is nothing to point back to).
    std::string& q = ctx_.scratch.query;
    q.clear();
    modDNS::AppendShortL(q, id);
    q += static_cast<char>(ctx_.settings->RecursionOut ? 0x01 : 0x00);
    q.append({'\0', '\0', '\1', '\0', '\0', '\0', '\0', '\0', '\0'});
    size_t at = 0;
    const std::string_view cur = currentName_;
    while (at < cur.size()) {
        size_t dot = cur.find('.', at);
        if (dot == std::string_view::npos) dot = cur.size();
        if (dot > at) {
            q += static_cast<char>(dot - at);
            q.append(cur.substr(at, dot - at));
        }
        at = dot + 1;
    }
    q += '\0';
    modDNS::AppendShortL(q, RequestType);
    q.append({'\0', '\1'});

    if (Wanted(kLogOutside)) {
        Log(kLogOutside, "Sending request to " + chosen.Name + " (" + ip + ") for " +
                             modDNS::RTypeN(RequestType) + "-record for " + currentName_);
    }
    TimeOut = now + wait;
    // A name no query can carry is not sent: the timer moves on to the next server.
    if (ctx_.sender && modDNS::CanZipName(currentName_)) {
        IDatagramSender::Failure failure;
        const bool sent = ctx_.sender->SendTo(q, ip, 53, {}, failure);
        if (ctx_.doTray) ctx_.doTray(1);
        if (!sent) {
            Log(kLogEvent, "XR-WS Error " + std::to_string(failure.number) + " " + failure.text);
        }
    }
    if (last) servers_.erase(servers_.begin() + static_cast<std::ptrdiff_t>(index));
}

void clDNSRequest::FillNSCol(const clDNSAnswer& x) {
    try {
        servers_.clear();
        OpenRqOut.clear();
        serverZone_ = !x.Section3.empty() && x.Section3.front() ? x.Section3.front()->Name : ".";
        for (const RecordRef& r : x.Section3) {
            if (r && r->RecType == modDNS::kTypeNS) AddServer({r->Data, {}, 0, {}, 0});
        }
        AttachAddresses(x.Section4);
    } catch (...) {
        kest::ReportError("clDNSRequest FillNSCol");
    }
}

void clDNSRequest::AttachAddresses(const RecordList& additional) {
    // Servers whose addresses are known move to the end, one per address.
    size_t i = 0;
    while (i < servers_.size()) {
        if (!servers_[i].IP.empty()) {
            ++i;
            continue;
        }
        bool any = false;
        const std::string name = servers_[i].Name;
        const int16_t hops = servers_[i].Hops;
        for (const RecordRef& r : additional) {
            if (!r || r->RecType != kTypeA || r->Name != name || r->Data.size() != 4) continue;
            if (!any) {
                servers_.erase(servers_.begin() + static_cast<std::ptrdiff_t>(i));
                any = true;
            }
            AddServer({name, modIP::DataToIP(r->Data), 0, {}, hops});
        }
        if (!any) ++i;
    }
}

void clDNSRequest::AddNSAns(const clDNSAnswer& rtAns, const std::string& nameIn) {
    try {
        State = 0;
        auto it = std::find_if(servers_.begin(), servers_.end(),
                               [&](const clNServ& s) { return s.Name == nameIn; });
        if (it == servers_.end()) return;
        std::string fromCNAME = it->FromCNAME;
        int16_t hops = it->Hops;
        servers_.erase(it);
        if (rtAns.RCode != 0 || rtAns.Section2.empty()) return;  // the server is dropped

        std::string name = nameIn;
        const RecordList& answers = rtAns.Section2;
        for (size_t first = 0; first < answers.size(); ++first) {
            const RecordRef& r = answers[first];
            if (!r || r->RecType != kTypeCNAME || r->Name != name) {
                for (size_t k = first; k < answers.size(); ++k) {
                    const RecordRef& a = answers[k];
                    if (a && a->RecType == kTypeA && a->Name == name && a->Data.size() == 4) {
                        AddServer({name, modIP::DataToIP(a->Data), 0, {}, hops});
                    }
                }
                return;
            }
            if (r->Data == fromCNAME) return;  // a loop
            if (++hops > kMaxServerHops) return;
            if (first + 1 == answers.size()) {
                AddServer({r->Data, {}, 0, fromCNAME.empty() ? name : fromCNAME, hops});
                return;
            }
            if (fromCNAME.empty()) fromCNAME = name;
            name = r->Data;
        }
    } catch (...) {
        kest::ReportError("clDNSRequest AddNSAns");
    }
}

void clDNSRequest::DropSender(const std::string& ip) {
    std::erase_if(OpenRqOut, [&](const clDNSRequestOut& q) { return q.IP == ip; });
}

void clDNSRequest::ProcAnswer(clDNSAnswer& rtAns) {
    try {
        if (State != 1) return;
        if ((!rtAns.RqName.empty() && rtAns.RqName != currentName_) ||
            rtAns.RqType != RequestType) {
            return;  // another question: the timer retries
        }
        State = 0;
        std::string sender;
        for (const clDNSRequestOut& q : OpenRqOut) {
            if (q.Id == rtAns.Id) {
                sender = q.IP;
                break;
            }
        }

        if (rtAns.RCode != 0 && rtAns.RCode != 3) {
            // The server failed or refused: drop it.
            auto it = std::find_if(servers_.begin(), servers_.end(),
                                   [&](const clNServ& s) { return s.IP == sender; });
            if (it != servers_.end()) servers_.erase(it);
            DropSender(sender);
            AskNS();
            return;
        }

        if (ctx_.settings->SpoofSecure) {
            if (serverZone_ != ".") {
                for (int sec = 2; sec <= 4; ++sec) {
                    std::erase_if(*rtAns.Section(sec), [&](const RecordRef& r) {
                        return !r || !Within(r->Name, serverZone_);
                    });
                }
            }
            if (ctx_.cache) ctx_.cache->CacheAdd(rtAns);
        }

        if (rtAns.RCode == 3) {
            if (!reply_.Section2.empty()) {
                ClearReferral();
            } else {
                reply_.RCode = 3;
            }
            FillSection(rtAns);
            SendReply();
            return;
        }

        if (!rtAns.Section2.empty()) {
            if (!reply_.Section2.empty()) ClearReferral();
            FillSection(rtAns);
            if (cnameSteps_ < kMaxCnameSteps && RedoCNAME()) {
                ++cnameSteps_;
                ProcStep1();
            } else {
                SendReply();
            }
            return;
        }

        RecordList& authority = rtAns.Section3;
        // What is missing from an incomplete reply may be the data asked for: it proves
        // neither an empty answer nor a lame server.
        const bool incomplete = rtAns.TC;
        if (!incomplete && authority.size() == 1 && authority.front() &&
            authority.front()->RecType == modDNS::kTypeSOA) {
            if (!reply_.Section2.empty()) ClearReferral();
            FillSection(rtAns);
            SendReply();
            return;
        }
        if (!incomplete && rtAns.AA) {
            FillSection(rtAns);
            SendReply();
            return;
        }

        // A referral to a deeper zone that holds the name.
        std::string best;
        for (const RecordRef& r : authority) {
            if (r && r->RecType == modDNS::kTypeNS && r->Name.size() > best.size()) best = r->Name;
        }
        if (best.size() > serverZone_.size() && Within(currentName_, best)) {
            std::erase_if(authority, [&](const RecordRef& r) {
                return !r || r->RecType != modDNS::kTypeNS || r->Name != best;
            });
            const RecordList& additional = rtAns.Section4;
            std::erase_if(authority, [&](const RecordRef& r) {
                if (!Within(r->Data, best)) return false;
                // A server inside the zone without its address cannot be reached.
                return std::none_of(additional.begin(), additional.end(), [&](const RecordRef& a) {
                    return a && a->RecType == kTypeA && a->Name == r->Data;
                });
            });
            if (!authority.empty()) {
                servers_.clear();
                OpenRqOut.clear();
                for (const RecordRef& r : authority) AddServer({r->Data, {}, 0, {}, 0});
                AttachAddresses(additional);
                serverZone_ = best;
                AskNS();
                return;
            }
        }

        // Neither data nor a deeper referral: a lame delegation (an incomplete reply only
        // drops the server).
        auto it = std::find_if(servers_.begin(), servers_.end(),
                               [&](const clNServ& s) { return s.IP == sender; });
        if (it != servers_.end() && incomplete) {
            servers_.erase(it);
        } else if (it != servers_.end()) {
            if (Wanted(kLogOutside)) {
                Log(kLogOutside, "** Error: Lame delegation for " + serverZone_ + " on " +
                                     it->Name + " (" + sender + ")");
            }
            if (ctx_.cache) ctx_.cache->RemoveNS(serverZone_, it->Name);
            servers_.erase(it);
        }
        DropSender(sender);
        AskNS();
    } catch (...) {
        kest::ReportError("clDNSRequest ProcAnswer");
    }
}

void clDNSRequest::FillSection(const clDNSAnswer& x) {
    try {
        for (const RecordRef& r : x.Section2) reply_.SectionAdd(2, r);
        for (const RecordRef& r : x.Section3) reply_.SectionAdd(3, r);
        for (const RecordRef& r : x.Section4) reply_.SectionAdd(4, r);
    } catch (...) {
        kest::ReportError("clDNSRequest FillSection");
    }
}

void clDNSRequest::ClearReferral() {
    reply_.Section3.clear();
    reply_.Section4.clear();
}

bool clDNSRequest::RedoCNAME() {
    try {
        if (RequestType == kTypeCNAME || RequestType == kTypeANY) return false;
        if (reply_.Section2.empty()) return false;
        const RecordRef& last = reply_.Section2.back();
        if (!last || last->RecType != kTypeCNAME) return false;
        const std::string target = last->Data;
        for (const RecordRef& r : reply_.Section2) {
            if (r && r->Name == target) return false;
        }
        currentName_ = target;
        return true;
    } catch (...) {
        kest::ReportError("clDNSRequest RedoCNAME");
        return false;
    }
}

// ---- Reply -----------------------------------------------------------------------------------

void clDNSRequest::TagReply(const clDNSAnswer& rtAns) {
    reply_ = rtAns;
    SendReply();
}

void clDNSRequest::SendReply() {
    try {
        if (ctx_.settings->AutoCNAME) CNAMERes(reply_, Now());
        State = 9;
        for (const RequestRef& tagged : TagRequests) {
            if (tagged) tagged->TagReply(reply_);
        }
        if (Level == 0) {
            SendToClient();
        } else {
            SendToParent();
        }
    } catch (...) {
        kest::ReportError("clDNSRequest SendReply");
    }
}

void clDNSRequest::SendToParent() {
    const RequestRef parent = ctx_.outstanding ? ctx_.outstanding->Find(RequestIP) : nullptr;
    // Only a parent still waiting for this answer takes it; one that has finished or moved on
    // would otherwise answer its client twice.
    if (!parent || parent->State != 2) return;
    parent->AddNSAns(reply_, RequestName);
    if (parent->inAskNS_) {
        parent->resumeAsk_ = true;
    } else {
        parent->AskNS();
    }
}

void clDNSRequest::SendToClient() {
    if (Wanted(kLogEvent)) {
        const std::string about = modDNS::RTypeN(RequestType);
        Log(kLogEvent, "Sending reply to " + RequestIP + " about " + about + "-record for " +
                           RequestName + ":");
        if (reply_.RCode == 0) {
            if (reply_.Section2.empty() && ((RequestRD && reply_.RA) || reply_.AA)) {
                Log(kLogEvent, "-> Answer: There are no " + about + "-Records for " + RequestName);
            }
        } else {
            Log(kLogEvent, "-> Header: " + modDNS::RCodeN(reply_.RCode));
        }
    }

    const ReplyHeader header{RequestID, RequestRD, RequestName, RequestType};
    const std::string& message = BuildMessage(header, reply_, Now(), ctx_.scratch, ctx_.log);
    if (message.empty()) return;

    if (RequestPort < 0) {
        if (ctx_.tcp) ctx_.tcp->SendAnswer(-RequestPort, message);
        return;
    }
    if (ctx_.sender) {
        IDatagramSender::Failure failure;
        const bool sent = ctx_.sender->SendTo(
            message, RequestIP, static_cast<uint16_t>(RequestPort), RequestLocalIP, failure);
        if (ctx_.doTray) ctx_.doTray(1);
        if (!sent) {
            Log(kLogEvent, "SA-WS Error " + std::to_string(failure.number) + " " + failure.text);
        }
    }
}

void clDNSRequest::CNAMERes(clDNSAnswer& reply, double now) {
    try {
        RecordList kept;
        RecordList moved;
        for (int sec = 2; sec <= 4; ++sec) {
            RecordList& s = *reply.Section(sec);
            for (;;) {
                auto it = std::find_if(s.begin(), s.end(), [](const RecordRef& r) {
                    return r && r->RecType == kTypeCNAME;
                });
                if (it == s.end()) break;
                const RecordRef cname = *it;
                s.erase(it);
                // An alias that names itself has nothing to fold into.
                if (cname->Name == cname->Data) continue;
                int32_t ttl = cname->TTL(now);
                kept.clear();
                moved.clear();
                // Only the records present when the pass began are visited.
                for (const RecordRef& r : s) {
                    if (r && r->Name == cname->Data) {
                        ttl = std::min(ttl, r->TTL(now));
                        moved.push_back(MakeRecord(cname->Name, r->RecType, r->Data, ttl, now));
                    } else {
                        kept.push_back(r);
                    }
                }
                kept.insert(kept.end(), moved.begin(), moved.end());
                s.swap(kept);
            }
        }
    } catch (...) {
        kest::ReportError("clDNSRequest CNAMERes");
    }
}
