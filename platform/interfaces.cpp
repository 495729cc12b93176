#include "platform/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace platform {
namespace {

std::string Text(const sockaddr* sa) {
    if (sa == nullptr || sa->sa_family != AF_INET) return {};
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, buf, sizeof buf);
    return buf;
}

}  // namespace

std::vector<InterfaceAddress> ListInterfaces() {
    std::vector<InterfaceAddress> list;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return list;
    for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        if ((a->ifa_flags & IFF_UP) == 0) continue;
        InterfaceAddress item;
        item.name = a->ifa_name ? a->ifa_name : "";
        item.index = ::if_nametoindex(item.name.c_str());
        item.ip = Text(a->ifa_addr);
        item.netmask = Text(a->ifa_netmask);
        if ((a->ifa_flags & IFF_BROADCAST) != 0) item.broadcast = Text(a->ifa_broadaddr);
        item.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        list.push_back(std::move(item));
    }
    ::freeifaddrs(all);
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& x, const auto& y) { return x.index < y.index; });
    return list;
}

std::vector<std::string> IdentifyHost() {
    const auto list = ListInterfaces();
    std::vector<std::string> ips;
    for (bool loopback : {false, true}) {
        for (const auto& item : list) {
            if (item.loopback != loopback || item.ip.empty()) continue;
            if (std::find(ips.begin(), ips.end(), item.ip) == ips.end()) ips.push_back(item.ip);
        }
    }
    return ips;
}

std::string SourceAddressFor(const std::string& ip) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    if (::inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return {};
    // Connecting a UDP socket sends nothing; it only runs the route look-up.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    std::string out;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
        out = Text(reinterpret_cast<const sockaddr*>(&local));
    ::close(fd);
    return out;
}

}  // namespace platform
