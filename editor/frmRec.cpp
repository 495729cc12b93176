#include "editor/frmRec.h"

#include <algorithm>
#include <cmath>

#include "core/modIP.h"
#include "core/numtext.h"

namespace editor {

const std::array<RecordType, 7>& RecordTypes() {
    static const std::array<RecordType, 7> types = {{
        {"A", kA, "Host Address ( Name to IP-Address )", "IP address:", ""},
        {"NS", kNS, "Authoritative Name Server", "DNS Server:", ""},
        {"CNAME", kCNAME, "Canonical NAME ( Alias )", "Alias for:", ""},
        {"PTR", kPTR, "Domain Name PoinTeR", "Point to:", ""},
        {"MX", kMX, "Mail eXchange ( E-Mail Server )", "Mail Server:", "Preference:"},
        {"SRV", kSRV, "Location of SeRVice", "Target:", "Priority:"},
        {"TXT", kTXT, "Descriptive TeXT", "Text:", ""},
    }};
    return types;
}

namespace {

int IndexOfType(int code) {
    for (size_t i = 0; i < RecordTypes().size(); ++i)
        if (RecordTypes()[i].code == code) return static_cast<int>(i);
    return 0;
}

std::string TrimBlanks(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// The absolute integer part of the text's value, as plain decimal ("0" for no number).
std::string WholeText(const std::string& text) {
    const double v = std::abs(std::trunc(kest::LeadingNumber(text)));
    return std::to_string(std::isnan(v)      ? 0
                          : v > 2147483647.0 ? 2147483647
                                             : static_cast<int64_t>(v));
}

bool IsAddress(const std::string& text) {
    return modIP::DataToIP(modIP::IPToData(text)) == text;
}

bool ZoneListed(const std::vector<std::string>& list, const std::string& zone) {
    for (const auto& z : list)
        if (z == zone) return true;
    return false;
}

}  // namespace

frmRec::frmRec(clEditor& editor, std::vector<std::string> zoneList, IReverseChooser& chooser)
    : ed_(editor), zoneList_(std::move(zoneList)), chooser_(chooser) {}

std::string frmRec::ZoneText() const {
    return CleanName(ed_.Zone.Name, true);
}

void frmRec::LoadRec(const std::string& key, bool makeCopy) {
    editKey_.clear();
    SavedKey.clear();
    RevZone.clear();
    chkPTR = false;
    NameLocked = false;
    int type = kA;
    const clDNSRecord* rec = key.empty() ? nullptr : ed_.Zone.Find(key);
    if (!rec) {
        txtName = ZoneText();
        txtPref = "100";
        TTL = 3600;
    } else {
        if (!makeCopy) {
            editKey_ = key;
            NameLocked = true;
        }
        txtName = rec->Name == "." ? "<root>" : CleanName(rec->Name, true);
        TTL = rec->TTL;
        type = rec->RecType;
        const std::string& d = rec->Data;
        switch (type) {
            case kA:
                txtIP = modIP::DataToIP(d);
                break;
            case kMX:
                txtPref = std::to_string(Short(d, 0));
                txtData = CleanName(d.size() > 2 ? d.substr(2) : "", false);
                break;
            case kSRV:
                txtPref = std::to_string(Short(d, 0));
                txtWeight = std::to_string(Short(d, 2));
                txtPort = std::to_string(Short(d, 4));
                txtData = CleanName(d.size() > 6 ? d.substr(6) : "", false);
                break;
            case kTXT: {
                const auto strings = TxtStrings(d);
                txtData = strings.empty() ? "" : strings.front();
                break;
            }
            default:
                txtData = CleanName(d, false);
                break;
        }
    }
    ChooseType(IndexOfType(type));
    ReadOnly = !ed_.ZoneEditable();
}

void frmRec::ChooseType(int index) {
    if (index < 0 || index >= static_cast<int>(RecordTypes().size())) return;
    TypeIndex = index;
    NameLeft();
}

void frmRec::NameLeft() {
    if (txtName == "<root>") return;
    txtName = CleanName(txtName, true);
    if (ed_.Zone.Name == ".") return;
    const std::string zone = ZoneText();
    if (txtName.empty())
        txtName = zone;
    else if (txtName.find('.') == std::string::npos && txtName != zone)
        txtName += "." + zone;
}

void frmRec::DataLeft() {
    txtData = Type().code == kTXT ? TrimBlanks(txtData) : CleanName(txtData, false);
}

void frmRec::NumberLeft(Field field) {
    std::string* text = field == Field::Pref     ? &txtPref
                        : field == Field::Weight ? &txtWeight
                        : field == Field::Port   ? &txtPort
                                                 : nullptr;
    if (text) *text = WholeText(*text);
}

void frmRec::Warn(const std::string& text, Field focus) {
    ed_.Prompt().Message(platform::IPrompt::Icon::Warning, kTitle, text);
    FocusWanted = focus;
}

bool frmRec::OK() {
    SavedKey.clear();
    RevZone.clear();
    if (ReadOnly) return true;
    // A default button takes no focus: every field is normalised here as leaving it would.
    FocusWanted = Field::OK;
    NameLeft();
    DataLeft();
    NumberLeft(Field::Pref);
    NumberLeft(Field::Weight);
    NumberLeft(Field::Port);
    if (txtName.empty()) {
        Warn("Please enter record name!", Field::Name);
        return false;
    }
    const int16_t type = Type().code;
    std::string data;
    if (type == kA) {
        if (txtIP.empty() || txtIP == "255.255.255.255") {
            Warn("Invalid IP Address!", Field::IP);
            return false;
        }
        data = modIP::IPToData(txtIP);
    } else if (type == kTXT) {
        if (txtData.empty()) {
            Warn("Please enter text!", Field::Data);
            return false;
        }
        // One character string holds at most 255 bytes.
        const std::string text = txtData.substr(0, 255);
        data = std::string(1, static_cast<char>(text.size())) + text;
    } else {
        if (txtData.empty() || IsAddress(txtData)) {
            const char* warning = type == kNS      ? "Invalid DNS server name!"
                                  : type == kCNAME ? "Invalid Alias for name!"
                                  : type == kPTR   ? "Invalid Point to name!"
                                  : type == kMX    ? "Invalid Mail Server name!"
                                                   : nullptr;
            if (warning)
                Warn(warning, Field::Data);
            else
                FocusWanted = Field::Data;
            return false;
        }
        data = txtData + ".";
    }
    const auto number = [](const std::string& t) { return kest::LeadingInteger(t, 0, INT64_MAX); };
    if (type == kMX) data = MakeShortL(number(txtPref)) + data;
    if (type == kSRV)
        data = MakeShortL(number(txtPref)) + MakeShortL(number(txtWeight)) +
               MakeShortL(number(txtPort)) + data;
    const std::string owner = txtName == "<root>" ? "." : txtName + ".";

    if (editKey_.empty()) {
        for (const auto& r : ed_.Zone.Records) {
            const char* conflict = nullptr;
            if (r.Name == owner && r.RecType == type && r.Data == data)
                conflict = "Record already exists!";
            else if (type == kCNAME && r.Name == owner)
                conflict = "Records already exists for this name!";
            else if (r.RecType == kCNAME && r.Name == owner)
                conflict = "CNAME record already exists for this name!";
            if (conflict) {
                Warn(conflict, Field::Name);
                return false;
            }
        }
    }

    if (type == kA && chkPTR) {
        FindReverseZone();
        if (RevZone.empty()) return false;
        if (RevZone != "*new*") {
            const int last = static_cast<unsigned char>(data[3]);
            ed_.PendingPTR.push_back(RevZone + " " + std::to_string(last) + " " + txtName);
        }
    }

    clDNSRecord* rec = editKey_.empty() ? nullptr : ed_.Zone.Find(editKey_);
    clDNSRecord fresh;
    clDNSRecord& target = rec ? *rec : fresh;
    target.Name = owner;
    target.RecType = type;
    target.TTL = TTL;
    target.Data = data;
    if (!rec) editKey_ = AddRecordSorted(ed_.Zone.Records, std::move(fresh), ed_.Keys);
    SavedKey = editKey_;
    ed_.ZoneChanged = true;
    FocusWanted = Field::None;
    return true;
}

void frmRec::FindReverseZone() {
    using platform::IPrompt;
    RevZone.clear();
    const std::string data = modIP::IPToData(txtIP);
    const auto byte = [&](int i) {
        return static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    };
    const std::string standard = std::to_string(byte(2)) + "." + std::to_string(byte(1)) + "." +
                                 std::to_string(byte(0)) + ".in-addr.arpa";
    if (ZoneListed(zoneList_, standard)) {
        RevZone = standard;
        return;
    }
    for (int p = 25; p <= 30; ++p) {
        const int n = byte(3) & (256 - (1 << (32 - p)));
        const std::string name = std::to_string(n) + "/" + std::to_string(p) + "." + standard;
        if (ZoneListed(zoneList_, name)) {
            RevZone = name;
            return;
        }
    }
    const std::string bits = modIP::IPToBin(txtIP);
    for (const auto& entry : ed_.ReverseMappings) {
        const size_t blank = entry.find(' ');
        if (blank == std::string::npos) continue;
        const std::string net = entry.substr(blank + 1);
        const size_t slash = net.find('/');
        if (slash == std::string::npos) continue;
        const auto prefix = static_cast<size_t>(kest::LeadingInteger(net.substr(slash + 1), 0, 32));
        if (bits.substr(0, prefix) == modIP::IPToBin(net.substr(0, slash)).substr(0, prefix)) {
            RevZone = CleanName(entry.substr(0, blank), false);
            return;
        }
    }

    std::vector<std::string> candidates;
    for (const auto& zone : zoneList_) {
        if (zone == ed_.CurrentZoneText) continue;
        // Standard reverse zones of other networks.
        const std::string suffix = ".in-addr.arpa";
        if (zone.size() > suffix.size() &&
            zone.compare(zone.size() - suffix.size(), suffix.size(), suffix) == 0) {
            const std::string labels = "128." + zone.substr(0, zone.size() - suffix.size());
            if (std::count(labels.begin(), labels.end(), '.') == 3 &&
                modIP::CleanIP(labels) == labels)
                continue;
        }
        bool mapped = false;
        for (const auto& entry : ed_.ReverseMappings)
            if (entry.rfind(zone + ". ", 0) == 0) mapped = true;
        if (!mapped) candidates.push_back(zone);
    }
    if (candidates.empty()) {
        if (ed_.Prompt().Ask(IPrompt::Icon::Question, kTitle, "Create Reverse Zone now ?",
                             IPrompt::Buttons::OkCancel,
                             IPrompt::Answer::Ok) == IPrompt::Answer::Ok)
            RevZone = "*new*";
        return;
    }
    const auto answer = ed_.Prompt().Ask(
        IPrompt::Icon::Question, kTitle,
        "Could not find Reverse Zone!\n\nDo you wish to create a new Reverse Zone now ?\n"
        "( Click 'No' to select an existing Zone )",
        IPrompt::Buttons::YesNoCancel, IPrompt::Answer::Yes);
    if (answer == IPrompt::Answer::Yes)
        RevZone = "*new*";
    else if (answer == IPrompt::Answer::No)
        RevZone = chooser_.ChooseReverseZone(candidates);
}

}  // namespace editor
