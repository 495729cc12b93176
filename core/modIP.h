#pragma once
// IPv4 addresses as dotted text and as 4-byte strings (network order), and reverse names.
// Malformed text is not an error: it reads as zero octets.
#include <string>
#include <string_view>

namespace modIP {

std::string DataToIP(std::string_view data);
std::string IPToData(std::string_view ip);
std::string CleanIP(std::string_view ip);
std::string IPToBin(std::string_view ip);
std::string NextIP(std::string_view ip);
bool SameNet(std::string_view ip1, std::string_view ip2, std::string_view mask);
bool ValidIP(std::string_view ip, std::string_view mask);
std::string ArpaToData(std::string_view name);
std::string ArpaToIP(std::string_view name);
std::string DataToArpa(std::string_view data);
std::string IPToArpa(std::string_view ip);

}  // namespace modIP
