#pragma once
// Starting other programs, detached from this one.
#include "platform/host.h"

namespace platform {

class Launcher : public ILauncher {
  public:
    // $VISUAL, else $EDITOR (either may carry arguments: "code -w"), else xdg-open.
    bool EditFile(const std::filesystem::path& file) override;
    bool Start(const std::string& program, const std::vector<std::string>& args) override;
    // xdg-open, so no display connection is needed here.
    bool OpenUrl(const std::string& url) override;

    // The command EditFile runs for a file: program first.
    static std::vector<std::string> EditorCommand(const std::filesystem::path& file);
};

}  // namespace platform
