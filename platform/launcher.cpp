#include "platform/launcher.h"

#include <QProcess>
#include <QStringList>
#include <cstdlib>
#include <sstream>

namespace platform {

std::vector<std::string> Launcher::EditorCommand(const std::filesystem::path& file) {
    std::vector<std::string> command;
    for (const char* name : {"VISUAL", "EDITOR"}) {
        const char* value = std::getenv(name);
        if (value == nullptr) continue;
        std::istringstream words(value);
        for (std::string w; words >> w;) command.push_back(w);
        if (!command.empty()) break;
    }
    if (command.empty()) command.push_back("xdg-open");
    command.push_back(file.string());
    return command;
}

bool Launcher::EditFile(const std::filesystem::path& file) {
    const auto command = EditorCommand(file);
    return Start(command.front(), std::vector<std::string>(command.begin() + 1, command.end()));
}

bool Launcher::Start(const std::string& program, const std::vector<std::string>& args) {
    if (program.empty()) return false;
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    return QProcess::startDetached(QString::fromStdString(program), list);
}

bool Launcher::OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    return Start("xdg-open", {url});
}

}  // namespace platform
