#include "core/modIP.h"

#include <stdexcept>

#include "core/report.h"

namespace modIP {
namespace {

// The numeric value of the leading digits of a field (sign dropped), 0 above 255.
unsigned char Octet(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && field[i] == ' ') ++i;
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
    unsigned long value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned long>(field[i] - '0');
        if (value > 255) return 0;
    }
    return static_cast<unsigned char>(value);
}

// Up to four dot-separated fields of text (missing ones empty).
template <typename Emit>
void Fields(std::string_view text, Emit emit) {
    size_t pos = 0;
    for (int k = 0; k < 4; ++k) {
        if (pos > text.size()) {
            emit(std::string_view{});
            continue;
        }
        size_t dot = text.find('.', pos);
        if (dot == std::string_view::npos) dot = text.size();
        emit(text.substr(pos, dot - pos));
        pos = dot + 1;
    }
}

int LastOne(const std::string& bits) {
    const size_t p = bits.rfind('1');
    return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

}  // namespace

std::string DataToIP(std::string_view data) {
    try {
        std::string out;
        for (size_t i = 0; i < 4; ++i) {
            if (i) out += '.';
            out += std::to_string(i < data.size() ? static_cast<unsigned char>(data[i]) : 0);
        }
        return out;
    } catch (...) {
        kest::ReportError("modIP DataToIP");
        return {};
    }
}

std::string IPToData(std::string_view ip) {
    try {
        std::string out;
        Fields(ip, [&](std::string_view f) { out += static_cast<char>(Octet(f)); });
        return out;
    } catch (...) {
        kest::ReportError("modIP IPToData");
        return {};
    }
}

std::string CleanIP(std::string_view ip) { return DataToIP(IPToData(ip)); }

std::string IPToBin(std::string_view ip) {
    try {
        std::string out;
        for (char c : IPToData(ip)) {
            const auto b = static_cast<unsigned char>(c);
            for (int bit = 7; bit >= 0; --bit) out += (b >> bit) & 1 ? '1' : '0';
        }
        return out;
    } catch (...) {
        kest::ReportError("modIP IPToBin");
        return {};
    }
}

std::string NextIP(std::string_view ip) {
    try {
        std::string d = IPToData(ip);
        for (int i = 3; i >= 0; --i) {
            auto& b = reinterpret_cast<unsigned char&>(d[static_cast<size_t>(i)]);
            if (++b != 0) break;
        }
        return DataToIP(d);
    } catch (...) {
        kest::ReportError("modIP NextIP");
        return {};
    }
}

bool SameNet(std::string_view ip1, std::string_view ip2, std::string_view mask) {
    try {
        const size_t n = static_cast<size_t>(LastOne(IPToBin(mask)));
        return IPToBin(ip1).substr(0, n) == IPToBin(ip2).substr(0, n);
    } catch (...) {
        kest::ReportError("modIP SameNet");
        return false;
    }
}

bool ValidIP(std::string_view ip, std::string_view mask) {
    try {
        if (ip.empty()) return false;
        const size_t n = static_cast<size_t>(LastOne(IPToBin(mask)));
        const std::string host = IPToBin(ip).substr(n);
        if (host.find('0') == std::string::npos || host.find('1') == std::string::npos)
            return false;
        return ip.substr(0, 4) != "127.";
    } catch (...) {
        kest::ReportError("modIP ValidIP");
        return false;
    }
}

std::string ArpaToData(std::string_view name) {
    try {
        constexpr std::string_view kSuffix = ".in-addr.arpa.";
        if (name.size() < kSuffix.size() || name.substr(name.size() - kSuffix.size()) != kSuffix)
            return std::string(4, '\0');
        std::string out;
        Fields(name.substr(0, name.size() - kSuffix.size()),
               [&](std::string_view f) { out.insert(out.begin(), static_cast<char>(Octet(f))); });
        return out;
    } catch (...) {
        kest::ReportError("modIP ArpaToData");
        return {};
    }
}

std::string ArpaToIP(std::string_view name) { return DataToIP(ArpaToData(name)); }

std::string DataToArpa(std::string_view data) {
    try {
        if (data.size() < 4) throw std::out_of_range("address data shorter than 4 bytes");
        std::string out = "in-addr.arpa.";
        for (size_t i = 0; i < 4; ++i)
            out = std::to_string(static_cast<unsigned char>(data[i])) + "." + out;
        return out;
    } catch (...) {
        kest::ReportError("modIP DataToArpa");
        return {};
    }
}

std::string IPToArpa(std::string_view ip) { return DataToArpa(IPToData(ip)); }

}  // namespace modIP
