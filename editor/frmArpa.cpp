#include "editor/frmArpa.h"

#include <algorithm>

#include "core/modIP.h"
#include "core/numtext.h"

namespace editor {
namespace {

constexpr std::string_view kArpa = ".in-addr.arpa.";

bool EndsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::vector<std::string> Labels(std::string_view name) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < name.size()) {
        const size_t dot = name.find('.', start);
        out.emplace_back(name.substr(start, dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return out;
}

// "128." and the labels reversed make a dotted address that reads back as itself.
bool NumericLabels(const std::vector<std::string>& labels) {
    std::string ip = "128";
    for (const auto& l : labels) ip += "." + l;
    return modIP::CleanIP(ip) == ip;
}

std::string Reversed(const std::vector<std::string>& three) {
    return three[2] + "." + three[1] + "." + three[0];
}

uint32_t AddressNumber(const std::string& ip) {
    const std::string d = modIP::IPToData(ip);
    uint32_t n = 0;
    for (char c : d) n = (n << 8) | static_cast<unsigned char>(c);
    return n;
}

std::string NumberAddress(uint32_t n) {
    return std::to_string(n >> 24) + "." + std::to_string((n >> 16) & 255) + "." +
           std::to_string((n >> 8) & 255) + "." + std::to_string(n & 255);
}

}  // namespace

std::string MappingKey(const std::string& ip) {
    std::string key = ip;
    if (key.size() < 15) key.append(15 - key.size(), ' ');
    return key;
}

frmArpa::frmArpa(ZoneHost host) : host_(std::move(host)) {}

const std::vector<std::string>& frmArpa::SubnetTexts() {
    static const std::vector<std::string> texts = {"255.255.255.0 (/24)",   "255.255.255.128 (/25)",
                                                   "255.255.255.192 (/26)", "255.255.255.224 (/27)",
                                                   "255.255.255.240 (/28)", "255.255.255.248 (/29)",
                                                   "255.255.255.252 (/30)"};
    return texts;
}

std::string frmArpa::NetworkOfZone(const clEditor& ed) {
    const std::string& name = ed.Zone.Name;
    if (EndsWith(name, kArpa)) {
        const auto labels = Labels(name.substr(0, name.size() - kArpa.size()));
        if (labels.size() == 3 && NumericLabels(labels)) return Reversed(labels) + ".0/24";
        if (labels.size() == 4) {
            const std::string& first = labels[0];
            const size_t slash = first.find('/');
            const std::vector<std::string> rest(labels.begin() + 1, labels.end());
            if (slash != std::string::npos && NumericLabels(rest)) {
                const std::string n = first.substr(0, slash), p = first.substr(slash + 1);
                const bool plain = !n.empty() && n.size() <= 3 &&
                                   std::all_of(n.begin(), n.end(), ::isdigit) &&
                                   std::stoi(n) <= 252;
                const bool prefix = p.size() == 2 && std::all_of(p.begin(), p.end(), ::isdigit) &&
                                    std::stoi(p) >= 25 && std::stoi(p) <= 30;
                if (plain && prefix)
                    return Reversed(rest) + "." + std::to_string(std::stoi(n)) + "/" + p;
            }
        }
    }
    for (const auto& entry : ed.ReverseMappings) {
        const size_t blank = entry.find(' ');
        if (blank == std::string::npos) continue;
        if (CleanName(entry.substr(0, blank), false) + "." == name ||
            (name == "." && entry.substr(0, blank) == "."))
            return entry.substr(blank + 1);
    }
    return "";
}

bool frmArpa::OpenFromMain() {
    using platform::IPrompt;
    const std::string snet = NetworkOfZone(host_.ed);
    if (snet.empty()) return true;
    const std::string text = "Edit \"" + TextOfZone(host_.ed.Zone.Name) +
                             "\" with the Reverse Zone Wizard ?\n\n"
                             "(Select \"No\" to create a new Reverse Zone)";
    switch (host_.ed.Prompt().Ask(IPrompt::Icon::Question, kTitle, text,
                                  IPrompt::Buttons::YesNoCancel, IPrompt::Answer::Yes)) {
        case IPrompt::Answer::Yes:
            LoadZone(snet);
            return true;
        case IPrompt::Answer::No:
            return true;
        default:
            return false;
    }
}

void frmArpa::LoadZone(const std::string& snet) {
    const size_t slash = snet.find('/');
    txtIP = modIP::CleanIP(snet.substr(0, slash));
    Network = txtIP;
    const int64_t prefix =
        slash == std::string::npos ? 24 : kest::LeadingInteger(snet.substr(slash + 1), 24, 30);
    const clZone& z = host_.ed.Zone;
    const std::string bytes3 = txtIP.substr(0, txtIP.rfind('.'));
    for (const clDNSRecord& r : z.Records) {
        if (r.RecType != kPTR || r.Name.size() <= z.Name.size() || !EndsWith(r.Name, z.Name))
            continue;
        const std::string label = r.Name.substr(0, r.Name.size() - z.Name.size() - 1);
        if (label.empty() || label.find('.') != std::string::npos) continue;
        Mappings.push_back(MappingKey(bytes3 + "." + label) + CleanName(r.Data, false));
    }
    Rows.clear();  // nothing typed yet to carry over
    SubnetIndex = static_cast<int>(prefix - 24);
    Rebuild();
    EditedZone = CleanName(z.Name, false);
    txtZone = EditedZone;
}

void frmArpa::HandOver(const std::string& ip, const std::string& name) {
    txtIP = modIP::CleanIP(ip);
    Mappings.push_back(MappingKey(txtIP) + name);
    ChooseSubnet(0);
}

void frmArpa::ChooseSubnet(int index) {
    SubnetIndex = std::clamp(index, 0, 6);
    Rebuild();
}

void frmArpa::IPLeft(const std::string& text) {
    std::string ip = text.empty() ? "" : modIP::CleanIP(text);
    if (ip == "0.0.0.0") ip.clear();
    if (ip == txtIP) return;
    txtIP = ip;
    Rebuild();
}

void frmArpa::SaveNames() {
    for (const Row& row : Rows) {
        const std::string key = MappingKey(row.ip);
        std::erase_if(Mappings, [&](const std::string& m) { return m.compare(0, 15, key) == 0; });
        if (!row.name.empty()) Mappings.push_back(key + row.name);
    }
}

void frmArpa::Rebuild() {
    SaveNames();
    Rows.clear();
    if (txtIP.empty()) return;
    const int prefix = SubnetIndex + 24;
    const uint32_t mask = 0xFFFFFFFFu << (32 - prefix);
    const uint32_t net = AddressNumber(txtIP) & mask;
    Network = NumberAddress(net);
    const std::string parent = modIP::IPToArpa(Network);  // "0.1.168.192.in-addr.arpa."
    const std::string parentZone = CleanName(parent.substr(parent.find('.') + 1), false);
    uint32_t first = net, last = net | ~mask;
    if (prefix == 24) {
        txtZone = parentZone;
        ZoneLocked = true;
        LookUpEnabled = false;
    } else {
        ++first;
        --last;
        txtZone = std::to_string(net & 255) + "/" + std::to_string(prefix) + "." + parentZone;
        ZoneLocked = false;
        LookUpEnabled = true;
    }
    for (uint32_t a = first; a <= last; ++a) {
        Row row;
        row.ip = NumberAddress(a);
        const std::string key = MappingKey(row.ip);
        for (const auto& m : Mappings)
            if (m.compare(0, 15, key) == 0) row.name = m.substr(15);
        Rows.push_back(row);
    }
}

void frmArpa::EditSelected(const std::string& name) {
    const std::string clean = CleanName(name, false);
    for (Row& r : Rows)
        if (r.selected) r.name = clean;
}

void frmArpa::FillSelected(const std::string& domain) {
    const std::string clean = CleanName(domain, false);
    if (clean.empty()) return;
    for (Row& r : Rows) {
        if (!r.selected) continue;
        std::string host = r.ip;
        std::replace(host.begin(), host.end(), '.', '-');
        r.name = host + "." + clean;
    }
}

void frmArpa::SelectAll() {
    for (Row& r : Rows) r.selected = true;
}

void frmArpa::ClearSelected() {
    for (Row& r : Rows)
        if (r.selected) r.name.clear();
}

int frmArpa::FirstSelected() const {
    for (size_t i = 0; i < Rows.size(); ++i)
        if (Rows[i].selected) return static_cast<int>(i);
    return -1;
}

std::string frmArpa::LookFor() const {
    if (Network.empty()) return "";
    return modIP::IPToArpa(modIP::NextIP(Network));
}

bool frmArpa::ShownPTR(const clDNSRecord& r, const std::string& zoneName) const {
    if (r.RecType != kPTR || r.Name.size() <= zoneName.size() || !EndsWith(r.Name, zoneName) ||
        r.Name[r.Name.size() - zoneName.size() - 1] != '.')
        return false;
    const std::string label = r.Name.substr(0, r.Name.size() - zoneName.size() - 1);
    if (label.empty() || label.size() > 3 || !std::all_of(label.begin(), label.end(), ::isdigit))
        return false;
    const std::string ip = Network.substr(0, Network.rfind('.')) + "." + label;
    if (modIP::CleanIP(ip) != ip) return false;
    return std::any_of(Rows.begin(), Rows.end(), [&](const Row& row) { return row.ip == ip; });
}

bool frmArpa::OK() {
    using platform::IPrompt;
    FocusWanted = Field::None;
    txtZone = CleanName(txtZone, false);
    if (txtZone.empty()) {
        host_.ed.Prompt().Message(IPrompt::Icon::Information, kTitle, "Please enter Zone Name!");
        FocusWanted = Field::Zone;
        return false;
    }
    if (Rows.empty()) {
        host_.ed.Prompt().Message(IPrompt::Icon::Information, kTitle,
                                  "Please enter an IP address!");
        FocusWanted = Field::IP;
        return false;
    }
    bool editing = !EditedZone.empty();
    if (editing && txtZone != EditedZone) {
        if (host_.ed.Prompt().Ask(
                IPrompt::Icon::Question, kTitle,
                "The Zone Name has changed!\n\nDo you want to create a new zone ?",
                IPrompt::Buttons::OkCancel, IPrompt::Answer::Ok) != IPrompt::Answer::Ok)
            return false;
        editing = false;
    }
    const std::string zoneName = txtZone + ".";
    const auto& d = host_.ed.Defaults;
    const ServerSettings& server = host_.ed.Server;
    clZone fresh;
    if (editing) {
        // Only the PTR records the table stands for are replaced; the rest of the zone stays.
        std::erase_if(host_.ed.Zone.Records,
                      [&](const clDNSRecord& r) { return ShownPTR(r, host_.ed.Zone.Name); });
    } else {
        if (Listed(host_.zoneList, txtZone)) {
            host_.ed.Prompt().Message(IPrompt::Icon::Warning, kTitle,
                                      "Zone with this domain name already exists!");
            FocusWanted = Field::Zone;
            return false;
        }
        fresh.Name = zoneName;
        fresh.EMail = !d[7].empty() ? d[7] : "hostmaster.";
        fresh.PrimServ = !d[6].empty()          ? d[6]
                         : !server.Name.empty() ? server.Name + "."
                                                : "unknown.";
        fresh.Secure = d[13] == "1";
        fresh.Serial = TodaySerial(host_.clock);
        for (int i = 1; i <= 3; ++i)
            fresh.TTL[i] = static_cast<uint32_t>(
                kest::LeadingInteger(d[static_cast<size_t>(8 + i)], 0, INT32_MAX));
        fresh.TTL[4] = static_cast<uint32_t>(kest::LeadingInteger(d[8], 0, INT32_MAX));
        fresh.Slaves = Words(d[12]);
        if (!server.Name.empty()) {
            clDNSRecord ns;
            ns.Name = zoneName;
            ns.TTL = 86400;
            ns.RecType = kNS;
            ns.Data = server.Name + ".";
            AddRecordSorted(fresh.Records, std::move(ns), host_.ed.Keys);
        }
    }
    clZone& target = editing ? host_.ed.Zone : fresh;
    for (const Row& row : Rows) {
        if (row.name.empty()) continue;
        clDNSRecord ptr;
        ptr.Name = row.ip.substr(row.ip.rfind('.') + 1) + "." + target.Name;
        ptr.TTL = 3600;
        ptr.RecType = kPTR;
        ptr.Data = row.name + ".";
        AddRecordSorted(target.Records, std::move(ptr), host_.ed.Keys);
    }
    if (!editing && !WriteNewZone(host_.ed, fresh)) return false;

    auto& maps = host_.ed.ReverseMappings;
    std::erase_if(maps, [&](const std::string& m) {
        return CleanName(m.substr(0, m.find(' ')), false) == txtZone;
    });
    maps.push_back(zoneName + " " + Network + "/" + std::to_string(SubnetIndex + 24));
    host_.ed.SaveEditorSettings();

    if (editing)
        host_.ed.ZoneChanged = true;
    else
        AdoptNewZone(host_, txtZone, 0);
    return true;
}

}  // namespace editor
