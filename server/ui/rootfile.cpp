#include "server/ui/rootfile.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <vector>

namespace serverui {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Absolute(std::string name) {
    name = Lower(std::move(name));
    if (name.empty() || name.back() != '.') name += '.';
    return name;
}

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool DottedQuad(const std::string& s) {
    int parts = 0;
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, '.')) {
        if (!AllDigits(part) || part.size() > 3 || std::stoi(part) > 255) return false;
        ++parts;
    }
    return parts == 4 && s.back() != '.';
}

}  // namespace

bool RootFileUsable(std::string_view text) {
    std::set<std::string> servers;  // NS targets of "."
    std::set<std::string> withAddress;
    std::string owner;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        if (const auto semi = line.find(';'); semi != std::string::npos) line.erase(semi);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const bool continued = line[0] == ' ' || line[0] == '\t';
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        size_t i = 0;
        if (!continued) owner = Absolute(w[i++]);
        if (i < w.size() && AllDigits(w[i])) ++i;
        if (i < w.size() && Lower(w[i]) == "in") ++i;
        if (i + 1 >= w.size()) continue;
        const std::string type = Lower(w[i]);
        const std::string& data = w[i + 1];
        if (type == "ns" && owner == ".") servers.insert(Absolute(data));
        if (type == "a" && DottedQuad(data)) withAddress.insert(owner);
    }
    return std::any_of(servers.begin(), servers.end(),
                       [&](const std::string& s) { return withAddress.count(s) != 0; });
}

}  // namespace serverui
