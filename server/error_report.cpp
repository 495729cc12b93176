#include "server/error_report.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/datetime.h"
#include "platform/files.h"

#ifndef KEST_VERSION_MAJOR
#define KEST_VERSION_MAJOR 0
#define KEST_VERSION_MINOR 0
#define KEST_VERSION_PATCH 0
#endif

namespace modMain {
namespace {

using Lines = std::vector<std::string>;

// A number as the system writes it inside text: a blank in front of non-negative values.
std::string Str(int64_t n) {
    return n >= 0 ? " " + std::to_string(n) : std::to_string(n);
}

void Heading(Lines& out, const std::string& title) {
    out.push_back(title);
    out.push_back(std::string(title.size(), '-'));
}

// "File: " and the path, its underline, the file's lines and an empty line.
void CopyFile(Lines& out, const std::filesystem::path& file) {
    const std::string head = "File: " + file.string();
    out.push_back(head);
    out.push_back(std::string(head.size(), '-'));
    const std::optional<std::string> text = platform::ReadFile(file);
    if (!text) {
        out.push_back("** Error opening file!");
    } else {
        for (std::string& line : platform::SplitLines(*text)) out.push_back(std::move(line));
    }
    out.push_back("");
}

std::string ErrorLine(const kest::RunError& e) {
    return "Error:" + Str(e.number) + " " + e.description;
}

std::string EventText(const std::string& where, const std::string& additional,
                      const kest::RunError& e) {
    return ErrorLine(e) + " in " + where + " " + additional;
}

Lines BoxHead(const std::string& where, const kest::RunError& e) {
    Lines box{"An error has occured in Kestrune!", "", ErrorLine(e)};
    if (!where.empty()) box.push_back("Module: " + where);
    box.push_back("");
    return box;
}

std::string JoinLf(const Lines& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

struct DepthGuard {
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
    int& depth;
};

}  // namespace

ErrorReporter::ErrorReporter(const Settings& settings, const kest::IClock& clock, ActivityLog& log,
                             ReportFacts facts, platform::IPrompt* prompt,
                             platform::IEventLog* eventLog, platform::ILauncher* launcher)
    : settings_(settings),
      clock_(clock),
      log_(log),
      facts_(std::move(facts)),
      prompt_(prompt),
      eventLog_(eventLog),
      launcher_(launcher) {
    if (facts_.dataDir.empty()) facts_.dataDir = facts_.programDir / "data";
}

std::string ErrorReporter::VersionText() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%02d.%04d", KEST_VERSION_MAJOR, KEST_VERSION_MINOR,
                  KEST_VERSION_PATCH);
    return buf;
}

void ErrorReporter::ErrorReport(const std::string& where, const std::string& additional) {
    Report(where, additional, kest::CurrentError());
}

void ErrorReporter::Report(const std::string& where, const std::string& additional,
                           const kest::RunError& error) {
    try {
        if (depth_ > 0) {
            // Raised while a report runs (or while its box is open): logged only. A failure of
            // that logging itself goes to standard error, so the chain ends here.
            if (depth_ == 1) {
                DepthGuard guard(depth_);
                log_.AddLine(kLogEvent, EventText(where, additional, error));
            } else {
                std::fprintf(stderr, "%s\n", EventText(where, additional, error).c_str());
            }
            return;
        }
        DepthGuard guard(depth_);
        if (error.number > 0) {
            log_.AddLine(kLogEvent, EventText(where, additional, error));
            if (settings_.NTService && eventLog_)
                eventLog_->Error(109, EventText(where, additional, error));
        }
        const bool written = WriteSupportFile(where, additional, error);
        const bool user = facts_.interactive && facts_.interactive();
        if (error.number == 0 || !user || !prompt_) return;
        Lines box = BoxHead(where, error);
        if (written) {
            box.insert(
                box.end(),
                {"A support file containing information about your",
                 "system and configuration was created as", "'" + SupportFile().string() + "'",
                 std::string("Please send this file to ") + kSupportAddress + " and",
                 "state any other information you think may be useful.", "",
                 "Review the support file with notepad now ?"});
            if (prompt_->AskYesNo(platform::IPrompt::Icon::Error, "Kestrune", JoinLf(box)) &&
                launcher_)
                launcher_->EditFile(SupportFile());
        } else {
            box.insert(box.end(), {std::string("Please send an e-mail to ") + kSupportAddress,
                                   "with the above error information along with any",
                                   "other information you think may be useful."});
            prompt_->Message(platform::IPrompt::Icon::Error, "Kestrune", JoinLf(box));
        }
    } catch (...) {
        // a report must never turn into an error of its caller
    }
}

bool ErrorReporter::WriteSupportFile(const std::string& where, const std::string& additional,
                                     const kest::RunError& error) {
    try {
        platform::WriteFileAtomic(SupportFile(), SupportText(where, additional, error));
        return true;
    } catch (...) {
        return false;
    }
}

std::string ErrorReporter::SupportText(const std::string& where, const std::string& additional,
                                       const kest::RunError& error) {
    Lines out{"Kestrune - Support Info", std::string(30, '-'), "",
              std::string("Please send your comments and questions to ") + kSupportAddress + ".",
              ""};
    // Each section is built apart, so a failure loses that section only.
    auto section = [&](auto&& build) {
        Lines part;
        try {
            build(part);
        } catch (...) {
            return;
        }
        out.insert(out.end(), part.begin(), part.end());
    };

    if (error.number > 0) {
        section([&](Lines& s) {
            Heading(s, "Error Description");
            s.push_back("Number     :" + Str(error.number));
            s.push_back("Description: " + error.description);
            s.push_back("Module     : " + where);
            s.push_back("Additional : " + additional);
            s.push_back("");
        });
    }

    section([&](Lines& s) {
        Heading(s, "System Information");
        std::string ifs;
        if (facts_.localIPs) {
            const Lines ips = facts_.localIPs();
            for (size_t i = 0; i < ips.size(); ++i) ifs += (i ? "/ " : "") + ips[i] + " ";
        }
        s.push_back("Interfaces : " + ifs);
        s.push_back("OS Platform: Linux");
        struct utsname u {};
        const bool haveUname = ::uname(&u) == 0;
        s.push_back(std::string("OS Version : ") + (haveUname ? u.release : ""));
        s.push_back(std::string("OS Build   : ") + (haveUname ? u.version : ""));
        s.push_back("Date/Time  : " + kest::FormatDateTime(clock_.LocalNow()));
        s.push_back("");
    });

    {
        Lines s;
        Heading(s, "Application Information");
        try {
            Lines info;
            const bool running = facts_.running && facts_.running();
            info.push_back(std::string("Status    : ") + (running ? "Running" : "Paused"));
            info.push_back("Path      : " + std::filesystem::canonical("/proc/self/exe").string());
            info.push_back("Version   : " + VersionText());
            s.insert(s.end(), info.begin(), info.end());
        } catch (...) {
            s.push_back("** Error getting Application info!");
        }
        s.push_back("");
        out.insert(out.end(), s.begin(), s.end());
    }

    section([&](Lines& s) {
        Heading(s, "Statistics");
        const double requests = facts_.totalRequests ? facts_.totalRequests() : 0.0;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s%.0f", requests >= 0 ? " " : "", requests);
        s.push_back(std::string("Requests:") + buf);
        s.push_back("Cache   :" + Str(facts_.cacheCount ? facts_.cacheCount() : 0));
        const double now = clock_.Now();
        const double start = facts_.startTime ? facts_.startTime() : now;
        std::snprintf(buf, sizeof buf, "%.6f", now - start);
        s.push_back(std::string("Uptime  : ") + buf);
        s.push_back("");
    });

    if (log_.WindowOpen()) {
        section([&](Lines& s) {
            Heading(s, "Recent Log Entries");
            const auto& lines = log_.WindowLines();
            if (lines.empty()) s.push_back("** No log entries!");
            const size_t first = lines.size() > 50 ? lines.size() - 50 : 0;
            for (size_t i = first; i < lines.size(); ++i) s.push_back(lines[i]);
            s.push_back("");
        });
    }

    section([&](Lines& s) { CopyFile(s, facts_.programDir / "kestrund.ini"); });

    {
        Lines s;
        const std::string head = "Directory: " + facts_.dataDir.string();
        Heading(s, head);
        try {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(facts_.dataDir))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
                return a.filename().string() < b.filename().string();
            });
            Lines rows;
            for (const auto& f : files) {
                struct stat st {};
                if (::stat(f.c_str(), &st) != 0) continue;  // gone since the listing
                char size[32];
                std::snprintf(size, sizeof size, "%15lld", static_cast<long long>(st.st_size));
                rows.push_back(kest::FormatDateTime(clock_.ToLocal(kest::UnixToDays(st.st_mtime))) +
                               size + "  " + f.filename().string());
            }
            s.insert(s.end(), rows.begin(), rows.end());
        } catch (...) {
            s.push_back("*** Error reading directory");
        }
        s.push_back("");
        out.insert(out.end(), s.begin(), s.end());
    }

    try {
        if (facts_.saveBlocks) facts_.saveBlocks();
    } catch (...) {
        // the copy below then shows the last saved list
    }
    section([&](Lines& s) { CopyFile(s, facts_.programDir / "blocks.dat"); });
    section([&](Lines& s) { CopyFile(s, facts_.programDir / "dhcp.dat"); });
    section([&](Lines& s) { CopyFile(s, facts_.programDir / "named.root"); });
    section([&](Lines& s) {
        std::filesystem::path hosts;
        if (facts_.hostsFile) {
            hosts = facts_.hostsFile();
        } else if (!settings_.Hosts.empty()) {
            hosts = settings_.Hosts;
        }
        if (!hosts.empty()) CopyFile(s, hosts);
    });

    return platform::JoinCrLf(out);
}

kest::ErrorSink InstallErrorSink(ErrorReporter& reporter) {
    return kest::SetErrorSink(
        [&reporter](const std::string& where, const std::string& additional,
                    const kest::RunError& error) { reporter.Report(where, additional, error); });
}

}  // namespace modMain
