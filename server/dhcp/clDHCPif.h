#pragma once
// One DHCP interface: one of the server's own addresses with the scope it hands out. Built from a
// "DHCP:" line of the settings.
#include <cstdint>
#include <string>

#include "server/settings.h"

class clDHCPif {
  public:
    std::string IPaddr;                       // the server's own address on that network
    std::string ScopeFrom;                    // first address of the scope
    std::string ScopeTo;                      // last address of the scope
    std::string Subnet;                       // mask handed out
    std::string Gateway;                      // "0.0.0.0" means none
    int32_t TTL = modMain::kDefaultLeaseTTL;  // lease time in seconds
    std::string Domain;                       // clients' domain, lower case, final "."
    bool Enable = true;

    static clDHCPif FromEntry(const modMain::DHCPEntry& e) {
        clDHCPif f;
        f.IPaddr = e.IPaddr;
        f.ScopeFrom = e.ScopeFrom;
        f.ScopeTo = e.ScopeTo;
        f.Subnet = e.Subnet;
        f.Gateway = e.Gateway;
        f.TTL = e.TTL > 0 ? e.TTL : modMain::kDefaultLeaseTTL;
        f.Domain = e.Domain;
        f.Enable = e.Enable;
        return f;
    }
};
