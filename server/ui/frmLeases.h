#pragma once
// The leases window's list: unexpired leases with their columns, the moment the next one
// expires, and deleting a lease after the warning.
#include <string>
#include <vector>

#include "core/clock.h"
#include "platform/host.h"
#include "server/dhcp/clLease.h"

namespace serverui {

struct LeaseItem {
    std::string key;   // "K" and the address
    std::string text;  // the client's name without its final dot
    std::string ipaddr;
    std::string hwaddr;   // hexadecimal
    std::string expires;  // "yyyy-mm-dd hh:mm:ss", local time
};

class frmLeases {
  public:
    static constexpr const char* kCaption = "DHCP Leases";

    frmLeases(clLeases& leases, const kest::IClock& clock, platform::IPrompt* prompt);

    void RefreshList();
    // The timer refreshes the list once this moment has passed.
    bool Due() const { return clock_.Now() >= NextExpiry; }
    // Deletes every lease of the selected item's address after the warning; selectedKey is the
    // item's key ("K10.0.0.50"), empty when nothing is selected.
    void DelLease(const std::string& selectedKey);

    std::vector<LeaseItem> Items;
    double NextExpiry = 0;

  private:
    clLeases& leases_;
    const kest::IClock& clock_;
    platform::IPrompt* prompt_;
};

}  // namespace serverui
