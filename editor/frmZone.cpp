#include "editor/frmZone.h"

#include <algorithm>
#include <cmath>

#include "core/modIP.h"
#include "core/numtext.h"

namespace editor {
namespace {

std::string FirstDotToAt(std::string s) {
    const size_t dot = s.find('.');
    if (dot != std::string::npos) s[dot] = '@';
    return s;
}

int32_t Seconds(const std::string& text) {
    return static_cast<int32_t>(kest::LeadingInteger(text, 0, INT32_MAX));
}

}  // namespace

frmZone::frmZone(ZoneHost host) : host_(std::move(host)) {}

std::string frmZone::ZoneText() const {
    return TextOfZone(host_.ed.Zone.Name);
}

void frmZone::LoadZone(bool newZone) {
    const auto& d = host_.ed.Defaults;
    NewZone = newZone;
    txtPrimS = CleanName(d[6], false);
    txtEMail = FirstDotToAt(CleanName(d[7], false));
    minTTL = Seconds(d[8]);
    for (int i = 0; i < 3; ++i) txtTTL[i] = Seconds(d[static_cast<size_t>(9 + i)]);
    List1 = Words(d[12]);
    chkOS = d[13] == "1";
    if (newZone) {
        Caption = "New Zone Properties";
        if (txtPrimS.empty()) txtPrimS = host_.ed.Server.Name;
        txtSer = std::to_string(TodaySerial(host_.clock));
        return;
    }
    const clZone& z = host_.ed.Zone;
    txtName = ZoneText();
    Caption = "Zone \"" + txtName + "\" Properties";
    chkPrimary = z.PrimIP.empty();
    txtPrimS = CleanName(z.PrimServ, false);
    txtEMail = FirstDotToAt(CleanName(z.EMail, false));
    minTTL = static_cast<int32_t>(std::min<uint32_t>(z.TTL[4], INT32_MAX));
    if (!z.PrimIP.empty()) txtPrimIP = z.PrimIP;
    txtSer = std::to_string(z.Serial);
    for (int i = 0; i < 3; ++i)
        txtTTL[i] = static_cast<int32_t>(std::min<uint32_t>(z.TTL[i + 1], INT32_MAX));
    List1 = z.Slaves;
    chkOS = z.Secure;
}

void frmZone::NameEntered() {
    if (txtName == "<root>") txtName.clear();
}

void frmZone::NameLeft() {
    if (NameLocked()) return;
    txtName = CleanName(txtName, false);
    if (txtName.empty()) txtName = "<root>";
    EMailLeft();
}

void frmZone::EMailLeft() {
    if (!chkPrimary) return;
    if (txtEMail.empty()) {
        if (!txtName.empty() && txtName != "<root>") txtEMail = "hostmaster@" + txtName;
        return;
    }
    const size_t at = txtEMail.find('@');
    if (at == std::string::npos) return;
    std::string local = txtEMail.substr(0, at);
    std::replace(local.begin(), local.end(), '.', '-');
    txtEMail = CleanName(local, false) + "@" + CleanName(txtEMail.substr(at + 1), false);
}

void frmZone::PrimSLeft() {
    if (!chkPrimary) return;
    txtPrimS = CleanName(txtPrimS, false);
    if (txtPrimS.empty()) txtPrimS = host_.ed.Server.Name;
}

void frmZone::SerialLeft() {
    // The serial is an unsigned 32-bit number: anything past it is no serial at all.
    const double v = std::fabs(kest::LeadingNumber(txtSer));
    const double whole = std::floor(v);
    txtSer = whole >= 4294967296.0 || std::isnan(whole)
                 ? "0"
                 : std::to_string(static_cast<uint32_t>(whole));
}

void frmZone::Add() {
    if (txtIP.empty() || Listed(List1, txtIP)) return;
    List1.push_back(txtIP);
    txtIP.clear();
}

void frmZone::Remove() {
    const auto it = std::find(List1.begin(), List1.end(), txtIP);
    if (it != List1.end()) List1.erase(it);
    txtIP.clear();
}

void frmZone::ListClicked(int index) {
    if (index >= 0 && index < static_cast<int>(List1.size()))
        txtIP = List1[static_cast<size_t>(index)];
}

void frmZone::Warn(const std::string& text, Tab tab, Field field) {
    host_.ed.Prompt().Message(platform::IPrompt::Icon::Warning, kTitle, text);
    TabWanted = tab;
    FocusWanted = field;
}

std::string frmZone::MailboxName() const {
    std::string m = txtEMail;
    std::replace(m.begin(), m.end(), '@', '.');
    return m;
}

bool frmZone::OK() {
    using platform::IPrompt;
    // The default button takes no focus: the leaving rules run first.
    if (NewZone) NameLeft();
    PrimSLeft();
    EMailLeft();
    SerialLeft();
    txtPrimIP = txtPrimIP.empty() ? "" : modIP::CleanIP(txtPrimIP);
    if (txtPrimIP == "0.0.0.0") txtPrimIP.clear();
    FocusWanted = Field::None;

    if (NewZone && Listed(host_.zoneList, txtName)) {
        Warn("Zone already exists!", Tab::General, Field::Name);
        return false;
    }
    if (chkPrimary && txtPrimS.empty()) {
        Warn("Please enter Primary DNS server domain name!", Tab::General, Field::PrimS);
        return false;
    }
    const size_t at = txtEMail.find('@');
    if (chkPrimary && (at == std::string::npos || at == 0 || at + 1 == txtEMail.size())) {
        Warn("Invalid e-mail address!", Tab::General, Field::EMail);
        return false;
    }
    if (!chkPrimary && txtPrimIP.empty()) {
        Warn("Please enter Primary DNS server IP address!", Tab::Transfers, Field::PrimIP);
        return false;
    }
    const auto serial = static_cast<uint32_t>(kest::LeadingInteger(txtSer, 0, UINT32_MAX));
    clZone& zone = host_.ed.Zone;
    if (!NewZone && chkPrimary && serial < zone.Serial) {
        TabWanted = Tab::Transfers;
        if (host_.ed.Prompt().Ask(
                IPrompt::Icon::Warning, kTitle, "Warning: Serial Number has decreased!",
                IPrompt::Buttons::OkCancel, IPrompt::Answer::Cancel) != IPrompt::Answer::Ok) {
            FocusWanted = Field::Serial;
            return false;
        }
    }
    if (chkPrimary && txtTTL[0] == 0) {
        Warn("Please specify Refresh Interval", Tab::Transfers, Field::Refresh);
        return false;
    }
    if (chkPrimary && txtTTL[1] == 0) {
        Warn("Please specify Retry Interval", Tab::Transfers, Field::Retry);
        return false;
    }
    if (chkPrimary && txtTTL[2] < txtTTL[0]) {
        Warn("Expire Interval must be greater than Refresh Interval!", Tab::Transfers,
             Field::Expire);
        return false;
    }

    clZone fresh;
    clZone& target = NewZone ? fresh : zone;
    if (NewZone) target.Name = txtName == "<root>" ? "." : txtName + ".";
    if (chkPrimary) {
        target.PrimServ = txtPrimS + ".";
        target.EMail = MailboxName() + ".";
        target.TTL[4] = static_cast<uint32_t>(minTTL);
        target.PrimIP.clear();
        target.Serial = serial;
        for (int i = 0; i < 3; ++i) target.TTL[i + 1] = static_cast<uint32_t>(txtTTL[i]);
    } else {
        target.PrimIP = txtPrimIP;
    }
    target.Slaves = List1;
    target.Secure = chkOS;

    if (NewZone) {
        if (!WriteNewZone(host_.ed, target)) return false;
        // The serial typed here is kept by the next save.
        AdoptNewZone(host_, txtName, -1);
    } else {
        host_.ed.ZoneChanged = true;
    }
    return true;
}

void frmZone::UseAsDefault() {
    auto& d = host_.ed.Defaults;
    d[6] = CleanName(txtPrimS, false) + ".";
    d[7] = CleanName(MailboxName(), false) + ".";
    d[8] = std::to_string(minTTL);
    for (int i = 0; i < 3; ++i) d[static_cast<size_t>(9 + i)] = std::to_string(txtTTL[i]);
    d[12].clear();
    for (const auto& ip : List1) d[12] += ip + " ";
    d[13] = chkOS ? "1" : "0";
}

}  // namespace editor
