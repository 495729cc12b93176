#pragma once
// Narrow interfaces to the host that server logic is written against, so tests pass fakes.
#include <filesystem>
#include <optional>
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

    // A box with a chosen set of buttons and default button; returns the button pressed
    // (Escape or closing the box answers Cancel where there is one, else No, else Ok).
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
    enum class Answer { Ok, Cancel, Yes, No, Retry };
    virtual Answer Ask(Icon icon, const std::string& title, const std::string& text,
                       Buttons buttons, Answer defaultButton) = 0;

    // File and folder choosers; nothing when the user cancels. `filter` is Qt's form:
    // "Hosts files (hosts);;All files (*)".
    virtual std::optional<std::filesystem::path> OpenFileName(const std::string& title,
                                                              const std::filesystem::path& start,
                                                              const std::string& filter) = 0;
    virtual std::optional<std::filesystem::path> FolderName(const std::string& title,
                                                            const std::filesystem::path& start) = 0;

    // Puts text on the clipboard.
    virtual void SetClipboard(const std::string& text) = 0;
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
    // Opens a web address or a local file (file://...) in the desktop's default browser.
    virtual bool OpenUrl(const std::string& url) = 0;
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
