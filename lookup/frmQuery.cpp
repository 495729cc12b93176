#include "lookup/frmQuery.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/modDNS.h"
#include "core/report.h"
#include "platform/paths.h"
#include "platform/settings_store.h"

namespace lookup {

const std::array<QueryType, 11> kQueryTypes = {{
    {"A (Host Address)", "A", 1},
    {"MX (Mail Server)", "MX", 15},
    {"CNAME (Alias)", "CNAME", 5},
    {"NS (Name Server)", "NS", 2},
    {"PTR (Pointer)", "PTR", 12},
    {"SOA (Start of Authority)", "SOA", 6},
    {"SRV (Location of Service)", "SRV", 33},
    {"TXT (Descriptive Text)", "TXT", 16},
    {"AXFR (Zone Transfer)", "AXFR", 252},
    {"Any DNS Record", "Any", 255},
    {"WHOIS", "WHOIS", 0},
}};

namespace {

constexpr const char* kSection = "Look Up";

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return {};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ReadFlag(const platform::SettingsStore& store, const char* key, bool fallback) {
    const std::string v = Lower(store.GetString(kSection, key, fallback ? "True" : "False"));
    return v == "true" || v == "1" || v == "-1";
}

// Send failures that a moment later may not repeat.
bool Transient(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS || err == ENOMEM || err == EINTR;
}

}  // namespace

const QueryType* FindQueryType(std::string_view word) {
    const std::string w = Upper(std::string(word));
    for (const QueryType& t : kQueryTypes)
        if (Upper(t.word) == w) return &t;
    return nullptr;
}

frmQuery::frmQuery(IQueryNet& net, platform::IPrompt& prompt, platform::ILauncher& launcher)
    : net_(net), prompt_(prompt), launcher_(launcher) {
    net_.SetEvents(this);
    supportPage = platform::ManualUrl("index.html");
}

frmQuery::~frmQuery() {
    net_.SetEvents(nullptr);
}

void frmQuery::Load(const std::filesystem::path& programDir) {
    try {
        whoisTable_ = ParseWhoisTable(ReadFile(programDir / "whois.dat"));
        serverText = IPText(IPToBytes(DefaultServer(ReadFile(programDir / "kestrund.ini"))));
        Changed();
    } catch (...) {
        kest::ReportError("frmQuery Form_Load");
    }
}

void frmQuery::ReadSettings(const platform::SettingsStore& store) {
    showToolBar = ReadFlag(store, "ToolBar", true);
    showStatusBar = ReadFlag(store, "StatusBar", true);
    showServer = ReadFlag(store, "Server", false);
    const std::string page = store.GetString(kSection, "SupportPage");
    if (!page.empty()) supportPage = page;
    Changed();
}

void frmQuery::WriteSettings(platform::SettingsStore& store) const {
    store.SetString(kSection, "ToolBar", showToolBar ? "True" : "False");
    store.SetString(kSection, "StatusBar", showStatusBar ? "True" : "False");
    store.SetString(kSection, "Server", showServer ? "True" : "False");
    store.Sync();
}

void frmQuery::Close() {
    ++ticket_;
    busy_ = Work::None;
    net_.UdpClose();
    net_.TcpClose(Channel::Zone);
    net_.TcpClose(Channel::Whois);
}

void frmQuery::Changed() {
    if (OnChanged) OnChanged();
}

void frmQuery::SetStatus(const std::string& text, StatusIcon icon) {
    statusText_ = text;
    statusIcon_ = icon;
}

uint32_t frmQuery::NextId() {
    if (++queryId_ > 65535) queryId_ = 1;
    return queryId_;
}

void frmQuery::SetBusyInputs() {
    stopped_ = false;
    inputsEnabled_ = false;
    stopVisible_ = true;
    lookUpEnabled_ = false;
    copyEnabled_ = false;
}

void frmQuery::Reenable() {
    inputsEnabled_ = true;
    stopVisible_ = false;
    lookUpEnabled_ = true;
    copyEnabled_ = true;
    stopEnabled_ = false;
    busy_ = Work::None;
    pending_ = Work::None;
}

void frmQuery::AddHistory() {
    auto add = [](std::vector<std::string>& list, const std::string& text) {
        for (const auto& s : list)
            if (s == text) return;
        list.push_back(text);
    };
    add(serverHistory, serverText);
    add(nameHistory, nameText);
}

void frmQuery::Done() {
    Reenable();
    SetStatus("Done", StatusIcon::Ready);
    if (OnFocusName) OnFocusName();
    Changed();
    if (OnFinished) OnFinished(true);
}

void frmQuery::Fail(const std::string& status) {
    ++ticket_;
    Reenable();
    SetStatus(status, StatusIcon::Error);
    if (OnBeep) OnBeep();
    if (OnFocusName) OnFocusName();
    Changed();
    if (OnFinished) OnFinished(false);
}

void frmQuery::CannotConnect() {
    const Work was = busy_ == Work::Resolving ? pending_ : busy_;
    if (was == Work::Udp) net_.UdpClose();
    if (was == Work::Zone) net_.TcpClose(Channel::Zone);
    if (was == Work::Whois) net_.TcpClose(Channel::Whois);
    Fail("Cannot connect to " + serverText);
}

void frmQuery::LookUpCurrent() {
    if (!lookUpEnabled_) return;
    LookUp(currentType_);
}

void frmQuery::LookUp(const std::string& typeWord) {
    try {
        const QueryType* type = FindQueryType(typeWord);
        if (!type) return;
        std::string word = type->word;
        if (busy_ != Work::None) Stop();
        // An address asked for by A or PTR is asked for by its reverse name.
        if (IsIPAddress(nameText) && (word == "A" || word == "PTR")) {
            word = "PTR";
            nameText = ReverseName(nameText);
        }
        currentType_ = word;
        lookUpCaption_ = word == "A" ? "Look Up" : word;
        if (word == "WHOIS") {
            Whois(true);
            return;
        }
        if (!showServer && !lastDnsServer_.empty()) serverText = lastDnsServer_;
        lastDnsServer_ = serverText;
        typeCode_ = FindQueryType(word)->code;
        if (serverText.empty() || nameText.empty()) {
            Changed();
            return;
        }
        SetBusyInputs();
        AddHistory();
        output_.clear();
        const uint32_t id = NextId();

        query_.clear();
        modDNS::AppendShortL(query_, id);
        query_ += static_cast<char>(recursion ? 0x01 : 0x00);
        query_ += '\0';
        modDNS::AppendShortL(query_, 1);
        query_.append(6, '\0');
        // A lone question has nothing earlier to point at: encoded on its own.
        query_ += modDNS::ZipName("", nameText + ".");
        modDNS::AppendShortL(query_, typeCode_);
        modDNS::AppendShortL(query_, 1);

        SetStatus("Resolving IP address of name server " + serverText, StatusIcon::Ready);
        StartWork(word == "AXFR" ? Work::Zone : Work::Udp, serverText);
    } catch (...) {
        kest::ReportError("frmQuery LookUp");
    }
}

void frmQuery::OnResolved(uint64_t ticket, const std::string& ip, const std::string& error) {
    try {
        if (ticket != ticket_ || busy_ != Work::Resolving) return;
        if (ip.empty() || !error.empty()) {
            CannotConnect();
            return;
        }
        Connect(ip);
        Changed();
    } catch (...) {
        kest::ReportError("frmQuery OnResolved");
    }
}

// The server's address first (a host name is resolved without blocking), then the work.
void frmQuery::StartWork(Work work, const std::string& serverText) {
    busy_ = Work::Resolving;
    pending_ = work;
    stopEnabled_ = true;
    if (IsIPAddress(serverText)) {
        Connect(serverText);
    } else {
        net_.Resolve(++ticket_, serverText);
    }
    Changed();
}

void frmQuery::Connect(const std::string& ip) {
    targetIp_ = ip;
    busy_ = pending_;
    std::string err;
    switch (busy_) {
        case Work::Zone:
            targetPort_ = dnsPort;
            tcpQuery_ = query_;
            SetStatus("Establishing connection with " + serverText, StatusIcon::Ready);
            if (!net_.TcpConnect(Channel::Zone, ip, dnsPort, err)) CannotConnect();
            break;
        case Work::Whois:
            targetPort_ = whoisPort;
            SetStatus("Establishing connection with " + serverText, StatusIcon::Ready);
            if (!net_.TcpConnect(Channel::Whois, ip, whoisPort, err)) CannotConnect();
            break;
        case Work::Udp: {
            targetPort_ = dnsPort;
            int rc = 0;
            for (int tries = 0; tries < kMaxSendTries; ++tries) {
                rc = net_.UdpSend(query_, ip, dnsPort, err);
                if (rc == 0 || !Transient(rc)) break;
            }
            if (rc != 0) {
                CannotConnect();
                break;
            }
            SetStatus("Waiting for answer from " + serverText, StatusIcon::Ready);
            break;
        }
        default:
            break;
    }
}

void frmQuery::OnDatagram(const std::string& data, const std::string& fromIp, uint16_t fromPort) {
    try {
        if (busy_ != Work::Udp) return;
        if (fromIp != targetIp_ || fromPort != targetPort_) return;
        if (data.size() < 3 || (static_cast<uint8_t>(data[2]) & 0x80) == 0) return;
        const uint32_t id = (static_cast<uint8_t>(data[0]) << 8) | static_cast<uint8_t>(data[1]);
        if (id != queryId_) return;
        net_.UdpClose();
        std::string text;
        const bool whole = ReplyText(data, nameText, typeCode_, recursion, text);
        output_ += text;
        if (!whole) {
            // A reply that cannot be walked leaves the window waiting until Stop.
            busy_ = Work::None;
            Changed();
            return;
        }
        Done();
    } catch (...) {
        kest::ReportError("frmQuery Winsock_DataArrival");
    }
}

void frmQuery::OnTcpConnect(Channel ch) {
    try {
        if (ch == Channel::Zone && busy_ == Work::Zone) {
            transfer_ = TransferReader();
            std::string framed;
            modDNS::AppendShortL(framed, static_cast<int64_t>(tcpQuery_.size()));
            framed += tcpQuery_;
            net_.TcpSend(Channel::Zone, framed);
            SetStatus("Waiting for answer from " + serverText, StatusIcon::Ready);
            Changed();
        } else if (ch == Channel::Whois && busy_ == Work::Whois) {
            whoisBuffer_.clear();
            whoisLastCr_ = false;
            net_.TcpSend(Channel::Whois, nameText + "\r\n");
            SetStatus("Waiting for answer from " + serverText, StatusIcon::Ready);
            Changed();
        }
    } catch (...) {
        kest::ReportError("frmQuery Socket_Connect");
    }
}

void frmQuery::OnTcpData(Channel ch, const std::string& bytes) {
    try {
        if (ch == Channel::Zone) {
            if (busy_ != Work::Zone || stopped_) return;
            transfer_.Add(bytes);
            SetStatus("Receiving Zone Transfer from " + serverText, StatusIcon::Ready);
            while (!stopped_) {
                const TransferReader::Step step = transfer_.Next(output_);
                if (transfer_.Started()) copyEnabled_ = true;
                if (step == TransferReader::Step::Handled) continue;
                if (step == TransferReader::Step::Finished) {
                    net_.TcpClose(Channel::Zone);
                    transfer_.Clear();
                    Done();
                    return;
                }
                break;  // more bytes needed, or a message that could not be walked
            }
            Changed();
        } else {
            if (busy_ != Work::Whois || stopped_) return;
            std::string text;
            text.reserve(bytes.size() + bytes.size() / 16);
            for (char c : bytes) {
                if (c == '\n' && !whoisLastCr_) text += '\r';
                text += c;
                whoisLastCr_ = c == '\r';
            }
            if (whoisBuffer_.size() < kMaxWhoisReply)
                whoisBuffer_ += text.substr(0, kMaxWhoisReply - whoisBuffer_.size());
            SetStatus("Receiving answer from " + serverText, StatusIcon::Ready);
            Changed();
        }
    } catch (...) {
        kest::ReportError(ch == Channel::Zone ? "frmQuery WinsockZ_DataArrival"
                                              : "frmQuery wsWhoIs_DataArrival");
    }
}

void frmQuery::OnTcpClose(Channel ch) {
    try {
        if (ch == Channel::Zone) {
            if (busy_ != Work::Zone) return;
            net_.TcpClose(Channel::Zone);
            if (stopped_) return;
            // A transfer sent as one message has no later SOA: the server's close ends it.
            if (transfer_.Started()) {
                transfer_.Clear();
                Done();
            } else {
                Fail(std::strerror(ECONNRESET));
            }
            return;
        }
        if (busy_ != Work::Whois) return;
        net_.TcpClose(Channel::Whois);
        if (stopped_) return;
        WhoisClosed();
    } catch (...) {
        kest::ReportError("frmQuery Socket_Close");
    }
}

void frmQuery::OnTcpError(Channel ch, int, const std::string& text) {
    try {
        if (ch == Channel::Zone) {
            if (busy_ != Work::Zone) return;
            net_.TcpClose(Channel::Zone);
            Fail(text);
        } else {
            if (busy_ != Work::Whois) return;
            net_.TcpClose(Channel::Whois);
            Fail("Cannot connect to " + serverText);
        }
    } catch (...) {
        kest::ReportError("frmQuery Socket_Error");
    }
}

void frmQuery::Whois(bool fresh) {
    if (fresh) {
        if (autoWhois) {
            if (IsIPAddress(nameText)) {
                serverText = kArinWhois;
            } else {
                const size_t dot = nameText.rfind('.');
                const std::string tld = dot == std::string::npos ? "com" : nameText.substr(dot + 1);
                for (const WhoisEntry& e : whoisTable_) {
                    if (e.Domain == tld) {
                        serverText = e.Server;
                        break;
                    }
                }
            }
        }
        if (nameText.rfind("www.", 0) == 0) nameText.erase(0, 4);
        if (serverText.empty() || nameText.empty()) {
            Changed();
            return;
        }
        SetBusyInputs();
        referrals_ = 0;
    }
    AddHistory();
    output_.clear();
    SetStatus("Resolving IP address of WHOIS server " + serverText, StatusIcon::Ready);
    StartWork(Work::Whois, serverText);
}

void frmQuery::WhoisClosed() {
    const std::string asked = Lower(serverText);
    std::string next;
    if (asked == kRegistryWhois) {
        // The registry names the registrar's server; the field's case varies between registries.
        const std::string lower = Lower(whoisBuffer_);
        const size_t at = lower.find("whois server: ");
        if (at != std::string::npos) {
            const size_t from = at + 14;
            const size_t end = whoisBuffer_.find("\r\n", from);
            if (end != std::string::npos) next = Lower(Trim(whoisBuffer_.substr(from, end - from)));
        }
    } else if (IsIPAddress(nameText) && asked == kArinWhois) {
        const size_t at = whoisBuffer_.find("Maintainer: ");
        if (at != std::string::npos) {
            const size_t from = at + 12;
            const size_t end = whoisBuffer_.find("\r\n", from);
            const std::string who =
                Upper(Trim(whoisBuffer_.substr(from, end == std::string::npos ? end : end - from)));
            if (who == "RIPE") next = kRipeWhois;
            if (who == "AP") next = kApnicWhois;
        }
    }
    // Referrals are bounded and never lead back to the server just asked.
    if (!next.empty() && next != asked && referrals_ < kMaxWhoisReferrals) {
        ++referrals_;
        serverText = next;
        Whois(false);
        return;
    }
    output_ = whoisBuffer_;
    Done();
}

void frmQuery::Stop() {
    stopped_ = true;
    ++ticket_;
    if (currentType_ == "WHOIS") {
        net_.TcpClose(Channel::Whois);
    } else if (currentType_ == "AXFR") {
        net_.TcpClose(Channel::Zone);
    } else {
        net_.UdpClose();
    }
    Reenable();
    SetStatus("Ready", StatusIcon::Ready);
    if (OnFocusName) OnFocusName();
    Changed();
}

void frmQuery::Copy() {
    if (!output_.empty()) prompt_.SetClipboard(output_);
}

void frmQuery::Help() {
    launcher_.OpenUrl(platform::ManualUrl("lookup.html"));
}

void frmQuery::OnlineSupport() {
    if (supportPage.empty() || !launcher_.OpenUrl(supportPage))
        prompt_.Message(platform::IPrompt::Icon::Error, "Kestrune - DNS Look Up",
                        "Could not open " + supportPage);
}

void frmQuery::NameLeft() {
    nameText = CleanQueryName(nameText);
    Changed();
}

void frmQuery::ServerLeft() {
    serverText = CleanQueryName(serverText);
    Changed();
}

}  // namespace lookup
