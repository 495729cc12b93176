#include "server/ui/frmLeases.h"

#include "core/datetime.h"
#include "core/report.h"

namespace serverui {

frmLeases::frmLeases(clLeases& leases, const kest::IClock& clock, platform::IPrompt* prompt)
    : leases_(leases), clock_(clock), prompt_(prompt) {}

void frmLeases::RefreshList() {
    try {
        const double now = clock_.Now();
        NextExpiry = now + 1.0;
        Items.clear();
        for (const clLease& lease : leases_.Leases()) {
            if (!lease.ValidAt(now)) continue;
            LeaseItem item;
            item.key = "K" + lease.IPaddr;
            item.text = lease.ClientName;
            if (!item.text.empty() && item.text.back() == '.') item.text.pop_back();
            item.ipaddr = lease.IPaddr;
            item.hwaddr = modDHCP::HWToHex(lease.HWAddr);
            item.expires = kest::FormatDateTime(clock_.ToLocal(lease.Expires));
            Items.push_back(std::move(item));
            if (lease.Expires < NextExpiry) NextExpiry = lease.Expires;
        }
    } catch (...) {
        kest::ReportError("frmDHCPLeases RefreshList");
    }
}

void frmLeases::DelLease(const std::string& selectedKey) {
    try {
        if (Items.empty() || selectedKey.size() < 2 || !prompt_) return;
        const std::string address = selectedKey.substr(1);
        const auto answer =
            prompt_->Ask(platform::IPrompt::Icon::Information, kCaption,
                         "Please re-boot that client to avoid IP-Address conflicts!",
                         platform::IPrompt::Buttons::OkCancel, platform::IPrompt::Answer::Ok);
        if (answer != platform::IPrompt::Answer::Ok) return;
        leases_.RemoveAddress(address);
        RefreshList();
    } catch (...) {
        kest::ReportError("frmDHCPLeases DelLease");
    }
}

}  // namespace serverui
