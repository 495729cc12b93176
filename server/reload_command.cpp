#include "server/reload_command.h"

#include <algorithm>
#include <cctype>

#include "core/modDNS.h"

namespace modMain {
namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::string ZoneName(std::string_view text) { return modDNS::CleanNameF(text) + "."; }

}  // namespace

ReloadCommand ParseReloadCommand(std::string_view text) {
    ReloadCommand cmd;
    if (Upper(text) == "RELOAD") {
        cmd.kind = ReloadCommand::kReloadAll;
        return cmd;
    }
    const std::string head = Upper(text.substr(0, 7));
    if (head == "UNLOAD ") {
        cmd.kind = ReloadCommand::kUnloadZone;
        cmd.zone = ZoneName(text.substr(7));
    } else if (head == "RELOAD ") {
        std::string_view rest = text.substr(7);
        const std::string kind = Upper(rest.substr(0, 2));
        if (kind == "S " || kind == "P ") rest.remove_prefix(2);
        cmd.kind = ReloadCommand::kReloadZone;
        cmd.zone = ZoneName(rest);
    }
    return cmd;
}

}  // namespace modMain
