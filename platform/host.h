#pragma once
// Narrow interfaces to the host that server logic is written against, so tests pass fakes.
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// Message boxes. Tests use a recording fake; headless runs use one that shows nothing.
class IPrompt {
public:
    enum class Icon { Information, Warning, Error, Question };
    virtual ~IPrompt() = default;
    virtual void Message(Icon icon, const std::string& title, const std::string& text) = 0;
    // A yes/no question; true for yes.
    virtual bool AskYesNo(Icon icon, const std::string& title, const std::string& text) = 0;
};

// The system's event log (syslog, facility daemon).
class IEventLog {
public:
    virtual ~IEventLog() = default;
    virtual void Error(int eventId, const std::string& text) = 0;
    virtual void Info(const std::string& text) = 0;
};

// Starting other programs.
class ILauncher {
public:
    virtual ~ILauncher() = default;
    // Opens a text file in the user's editor.
    virtual bool EditFile(const std::filesystem::path& file) = 0;
    // Starts a program detached; false when it could not be started.
    virtual bool Start(const std::string& program, const std::vector<std::string>& args) = 0;
};

// Lets pending events run (socket events, timers, the user interface).
class IEventPump {
public:
    virtual ~IEventPump() = default;
    virtual void Pump() = 0;
};

// The tray icon: pictures 0 (running), 1 (request just handled), 2 (stopped or failed).
class ITray {
public:
    virtual ~ITray() = default;
    virtual void Show() = 0;
    virtual void Remove() = 0;
    virtual void SetIcon(int icon) = 0;
    virtual void SetTip(const std::string& tip) = 0;
};

}  // namespace platform
