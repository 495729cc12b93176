#pragma once
// An editor on a program folder of its own, with a fake clock, a recording prompt and a sender
// that keeps the datagrams instead of sending them.
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/datetime.h"
#include "editor/editor.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace kest::test {

class RecordingSender : public editor::IReloadSender {
  public:
    void Send(const std::string& text, uint16_t port) override { sent.emplace_back(text, port); }
    std::vector<std::pair<std::string, uint16_t>> sent;
};

class EditorFixture {
  public:
    EditorFixture()
        : clock(CivilToDays({2026, 12, 6, 12, 0, 0})), ed(dir.path(), clock, sender, prompt) {
        std::filesystem::create_directory(dir.path() / "data");
    }
    void WriteFile(const std::string& rel, const std::string& text) {
        std::ofstream(dir.path() / rel, std::ios::binary) << text;
    }
    std::string ReadFile(const std::string& rel) const {
        std::ifstream in(dir.path() / rel, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempDir dir;
    FakeClock clock;
    RecordingSender sender;
    RecordingPrompt prompt;
    editor::clEditor ed;
};

}  // namespace kest::test
