#include "editor/frmCopy.h"

namespace editor {

frmCopy::frmCopy(ZoneHost host) : host_(std::move(host)) {}

std::string frmCopy::Refusal(const clEditor& ed) {
    if (ed.Zone.Name == ".") return "Cannot copy <root> zone!";
    if (!ed.Zone.PrimIP.empty()) return "Can only copy Zones for which this server is Primary!";
    return "";
}

void frmCopy::Open() {
    txtFrom = TextOfZone(host_.ed.Zone.Name);
}

std::string frmCopy::Rename(const std::string& name) const {
    const std::string suffix = "." + txtFrom + ".";
    const std::string dotted = "." + name;
    if (dotted.size() < suffix.size() ||
        dotted.compare(dotted.size() - suffix.size(), suffix.size(), suffix) != 0)
        return name;
    return dotted.substr(1, dotted.size() - suffix.size()) + txtTo + ".";
}

bool frmCopy::OK() {
    ToLeft();
    FocusWanted = Field::None;
    if (txtTo.empty()) return false;
    if (Listed(host_.zoneList, txtTo)) {
        host_.ed.Prompt().Message(platform::IPrompt::Icon::Warning, kTitle, "Zone already exists!");
        FocusWanted = Field::To;
        return false;
    }
    const clZone& from = host_.ed.Zone;
    clZone z;
    z.Name = txtTo + ".";
    for (int i = 1; i <= 4; ++i) z.TTL[i] = from.TTL[i];
    z.Secure = from.Secure;
    z.Slaves = from.Slaves;
    const size_t dot = from.EMail.find('.');
    z.EMail = dot == std::string::npos
                  ? from.EMail
                  : from.EMail.substr(0, dot + 1) + Rename(from.EMail.substr(dot + 1));
    z.PrimServ = Rename(from.PrimServ);
    z.Serial = TodaySerial(host_.clock);
    for (const clDNSRecord& r : from.Records) {
        clDNSRecord c;
        c.Name = Rename(r.Name);
        c.TTL = r.TTL;
        c.RecType = r.RecType;
        const size_t numbers = r.RecType == kMX ? 2 : r.RecType == kSRV ? 6 : 0;
        if (r.RecType == kNS || r.RecType == kCNAME)
            c.Data = Rename(r.Data);
        else if (numbers && r.Data.size() > numbers)
            c.Data = r.Data.substr(0, numbers) + Rename(r.Data.substr(numbers));
        else
            c.Data = r.Data;
        AddRecordSorted(z.Records, std::move(c), host_.ed.Keys);
    }
    if (!WriteNewZone(host_.ed, z)) return false;
    AdoptNewZone(host_, txtTo, 0);
    return true;
}

}  // namespace editor
