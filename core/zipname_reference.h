#pragma once
// A plain, literal implementation of ZipName (one full search of the message per tail
// per pass), kept for tests, fuzzing and the benchmark as the yardstick of modDNS::ZipName. Same
// refusals and the same 16384 rule; not for production use.
#include <string>
#include <string_view>

namespace modDNS::reference {

std::string ZipName(std::string_view message, std::string_view name);

}  // namespace modDNS::reference
