#include "editor/frmQuick.h"

#include "core/modIP.h"
#include "core/numtext.h"

namespace editor {
namespace {

std::string Address(const std::string& text) {
    if (text.empty()) return "";
    const std::string ip = modIP::CleanIP(text);
    return ip == "0.0.0.0" ? "" : ip;
}

uint32_t Seconds(const std::string& text) {
    return static_cast<uint32_t>(kest::LeadingInteger(text, 0, INT32_MAX));
}

}  // namespace

frmQuick::frmQuick(ZoneHost host) : host_(std::move(host)) {}

void frmQuick::Open() {
    const auto& d = host_.ed.Defaults;
    txtIP1 = d[1];
    txtIP2 = d[2];
    txtIP3 = d[3];
    txtDNS = d[4];
    txtIP4 = d[5];
}

void frmQuick::UseAsDefault() {
    auto& d = host_.ed.Defaults;
    d[1] = Address(txtIP1);
    d[2] = Address(txtIP2);
    d[3] = Address(txtIP3);
    d[4] = CleanName(txtDNS, false);
    d[5] = Address(txtIP4);
}

bool frmQuick::OK() {
    NameLeft();
    DNSLeft();
    FocusWanted = Field::None;
    if (txtName.empty()) return false;
    if (Listed(host_.zoneList, txtName)) {
        host_.ed.Prompt().Message(platform::IPrompt::Icon::Warning, kTitle,
                                  "Zone with this domain name already exists!");
        FocusWanted = Field::Name;
        return false;
    }
    const auto& d = host_.ed.Defaults;
    const ServerSettings& server = host_.ed.Server;
    const std::string n = txtName + ".";
    clZone z;
    z.Name = n;
    z.EMail = !d[7].empty() ? d[7] : "hostmaster." + n;
    z.PrimServ = !d[6].empty() ? d[6] : !server.Name.empty() ? server.Name + "." : "ns1." + n;
    z.Secure = d[13] == "1";
    z.Serial = TodaySerial(host_.clock);
    z.TTL[1] = Seconds(d[9]);
    z.TTL[2] = Seconds(d[10]);
    z.TTL[3] = Seconds(d[11]);
    z.TTL[4] = Seconds(d[8]);
    z.Slaves = Words(d[12]);

    auto add = [&](const std::string& owner, int16_t type, const std::string& data) {
        clDNSRecord r;
        r.Name = owner;
        r.TTL = 3600;
        r.RecType = type;
        r.Data = data;
        AddRecordSorted(z.Records, std::move(r), host_.ed.Keys);
    };
    add(n, kNS, z.PrimServ);
    const std::string primaryIP = Address(server.PrimaryIP);
    if (!primaryIP.empty() && primaryIP != "127.0.0.1")
        add(z.PrimServ, kA, modIP::IPToData(primaryIP));
    const std::string www = Address(txtIP1), mail = Address(txtIP2), ftp = Address(txtIP3),
                      second = Address(txtIP4);
    if (!www.empty()) add("www." + n, kA, modIP::IPToData(www));
    if (!mail.empty()) {
        add(n, kMX, MakeShortL(100) + "mail." + n);
        add("mail." + n, kA, modIP::IPToData(mail));
    }
    if (!ftp.empty()) add("ftp." + n, kA, modIP::IPToData(ftp));
    if (!txtDNS.empty()) add(n, kNS, txtDNS + ".");
    if (!second.empty()) {
        if (!txtDNS.empty()) add(txtDNS + ".", kA, modIP::IPToData(second));
        if (!Listed(z.Slaves, second)) z.Slaves.push_back(second);
    }

    if (!WriteNewZone(host_.ed, z)) return false;
    // Saved again on the next save, with the reload, and with the serial as it is.
    AdoptNewZone(host_, txtName, 0);
    return true;
}

}  // namespace editor
