#pragma once
// The machine's own IPv4 addresses.
#include <string>
#include <vector>

namespace platform {

struct InterfaceAddress {
    std::string name;       // "eth0"
    unsigned index = 0;     // interface index
    std::string ip;         // dotted
    std::string netmask;    // dotted
    std::string broadcast;  // dotted, empty when the interface has none
    bool loopback = false;
};

// IPv4 addresses of interfaces that are up, in interface order.
std::vector<InterfaceAddress> ListInterfaces();

// The dotted IPv4 addresses of interfaces that are up: non-loopback first, each group in
// interface order, no duplicates.
std::vector<std::string> IdentifyHost();

// The source address the kernel's routes pick for a datagram to ip (dotted); empty when there is
// no route or ip is not an address.
std::string SourceAddressFor(const std::string& ip);

}  // namespace platform
