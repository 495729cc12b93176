#pragma once
// A launcher that starts nothing and remembers what it was asked to start.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host.h"

namespace kest::test {

class RecordingLauncher : public platform::ILauncher {
  public:
    struct Started {
        std::string program;
        std::vector<std::string> args;
    };

    bool EditFile(const std::filesystem::path& file) override {
        edited.push_back(file);
        return succeed;
    }
    bool Start(const std::string& program, const std::vector<std::string>& args) override {
        started.push_back({program, args});
        return succeed;
    }
    bool OpenUrl(const std::string& url) override {
        urls.push_back(url);
        return succeed;
    }

    std::vector<std::filesystem::path> edited;
    std::vector<Started> started;
    std::vector<std::string> urls;
    bool succeed = true;  // what every call answers
};

}  // namespace kest::test
