#pragma once
// The commands of the reload control port: one datagram from 127.0.0.1, one command text.
#include <string>
#include <string_view>

namespace modMain {

struct ReloadCommand {
    enum Kind { kNone, kReloadAll, kUnloadZone, kReloadZone };
    Kind kind = kNone;
    std::string zone;  // absolute, lower case ("." for an empty name)
};

// "RELOAD", "UNLOAD zone", "RELOAD [S |P ]zone", keywords in any case; anything else is kNone.
ReloadCommand ParseReloadCommand(std::string_view text);

}  // namespace modMain
