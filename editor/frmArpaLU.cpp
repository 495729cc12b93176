#include "editor/frmArpaLU.h"

#include "core/modDNS.h"
#include "platform/sockets.h"

namespace editor {
namespace {

// The server's texts, but a server failure here means the parent's delegation is lame.
std::string RcodeText(int rcode) {
    return rcode == 2 ? "Lame Delegation Problem!" : modDNS::RCodeN(rcode);
}

class UdpLookupSocket : public ILookupSocket {
  public:
    explicit UdpLookupSocket(
        std::function<void(const std::string&, const std::string&, uint16_t)> f)
        : onReply_(std::move(f)) {
        socket_.OnData = [this](const platform::Datagram& d) {
            onReply_(d.data, d.fromIp, d.fromPort);
        };
    }
    bool Send(const std::string& data, const std::string& ip, uint16_t port) override {
        if (!socket_.IsOpen() && !socket_.Bind("", 0)) return false;
        return socket_.SendTo(data, ip, port);
    }
    void Close() override { socket_.Close(); }

  private:
    std::function<void(const std::string&, const std::string&, uint16_t)> onReply_;
    platform::UdpSocket socket_;
};

}  // namespace

std::unique_ptr<ILookupSocket> MakeUdpLookupSocket(
    std::function<void(const std::string&, const std::string&, uint16_t)> onReply) {
    return std::make_unique<UdpLookupSocket>(std::move(onReply));
}

frmArpaLU::frmArpaLU(const clEditor& ed, ILookupSocket& socket)
    : serverIp_(ed.Server.PrimaryIP),
      serverPort_(static_cast<uint16_t>(ed.Server.DNSPort)),
      socket_(socket) {}

std::string frmArpaLU::Query() const {
    // ID 100,100; recursion desired; one question.
    std::string q("\x64\x64\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
    q += modDNS::ZipName(q, LookFor);
    q += modDNS::MakeShortL(5);
    q += modDNS::MakeShortL(1);
    return q;
}

void frmArpaLU::LookUp() {
    Lines.push_back("Sending request to " + serverIp_ + " about CNAME-Record for " + LookFor +
                    "..");
    socket_.Send(Query(), serverIp_, serverPort_);
    TimerActive = true;
}

void frmArpaLU::Tick() {
    if (!TimerActive) return;
    if (static_cast<int>(Lines.size()) < kMaxLines) {
        LookUp();
        return;
    }
    Lines.push_back("DNS server not responding.");
    Finish();
}

void frmArpaLU::Finish() {
    TimerActive = false;
    OKEnabled = true;
    if (!closed_) socket_.Close();
    closed_ = true;
}

void frmArpaLU::Cancel() {
    TimerActive = false;
    if (!closed_) socket_.Close();
    closed_ = true;
}

void frmArpaLU::Reply(const std::string& data, const std::string& fromIp, uint16_t fromPort) {
    if (closed_ || fromIp != serverIp_ || fromPort != serverPort_) return;
    if (data.size() < 12 || static_cast<unsigned char>(data[0]) != 100 ||
        static_cast<unsigned char>(data[1]) != 100 || !(static_cast<unsigned char>(data[2]) & 0x80))
        return;
    Finish();
    const int rcode = static_cast<unsigned char>(data[3]) & 0x0F;
    if (rcode != 0) {
        Lines.push_back("Answer: " + RcodeText(rcode));
        Lines.push_back("");
        if (rcode == 2 || rcode == 3) Lines.push_back("Reverse Zone has not been Sub-Delegated!");
        if (Changed) Changed();
        return;
    }
    std::string_view rest(data);
    rest.remove_prefix(4);
    const int qd = modDNS::ExtractShort(rest, true);
    const int an = modDNS::ExtractShort(rest, true);
    rest.remove_prefix(std::min<size_t>(rest.size(), 4));
    for (int i = 0; i < qd && !rest.empty(); ++i) {
        modDNS::ExtractName(data, rest, true);
        modDNS::ExtractShortL(rest, true);
        modDNS::ExtractShortL(rest, true);
    }
    for (int i = 0; i < an && !rest.empty(); ++i) {
        const std::string owner = modDNS::ExtractName(data, rest, true);
        const int32_t type = modDNS::ExtractShortL(rest, true);
        modDNS::ExtractShortL(rest, true);
        modDNS::ExtractLong(rest, true);
        const auto length = static_cast<size_t>(modDNS::ExtractShortL(rest, true));
        if (length > rest.size()) break;
        std::string_view rdata = rest.substr(0, length);
        rest.remove_prefix(length);
        if (type != 5 || owner != LookFor) continue;
        const std::string target = modDNS::ExtractName(data, rdata, false);
        if (target == "incomplete.") continue;
        Lines.push_back("Answer: CNAME-record for " + owner + " = " + target);
        const size_t dot = target.find('.');
        ZoneNameIs = CleanName(dot == std::string::npos ? "" : target.substr(dot + 1), false);
        Lines.push_back("");
        Lines.push_back("Reverse Zone Name = \"" + ZoneNameIs + "\"");
        if (Changed) Changed();
        return;
    }
    Lines.push_back("Answer: No CNAME-Records exist for " + LookFor);
    Lines.push_back("");
    Lines.push_back("Reverse Zone has not been Sub-Delegated!");
    if (Changed) Changed();
}

}  // namespace editor
