#pragma once
// Recording fakes for the request object and the intake: what was sent, and what was logged.
#include <cstdint>
#include <string>
#include <vector>

#include "server/resolver/clDNSRequest.h"

namespace kest::test {

struct SentDatagram {
    std::string data;
    std::string ip;
    uint16_t port = 0;
    std::string fromLocalIp;
};

class RecordingSender : public IDatagramSender {
  public:
    bool SendTo(const std::string& data, const std::string& ip, uint16_t port,
                const std::string& fromLocalIp, Failure& failure) override {
        if (failWith != 0) {
            failure = {failWith, "Message too long"};
            return false;
        }
        sent.push_back({data, ip, port, fromLocalIp});
        return true;
    }
    std::vector<SentDatagram> sent;
    int failWith = 0;
};

class RecordingTcp : public ITcpAnswerSink {
  public:
    bool SendAnswer(int32_t connectionId, const std::string& message) override {
        if (!connectionOpen) return false;
        answers.emplace_back(connectionId, message);
        return true;
    }
    std::vector<std::pair<int32_t, std::string>> answers;
    bool connectionOpen = true;
};

class RecordingLog : public IRequestLog {
  public:
    void AddLine(int kind, std::string_view text) override {
        if (Wanted(kind)) lines.emplace_back(text);
    }
    bool Wanted(int kind) const override { return kind != 1 || detail; }
    bool Has(const std::string& line) const {
        for (const auto& l : lines)
            if (l == line) return true;
        return false;
    }
    std::vector<std::string> lines;
    bool detail = true;
};

}  // namespace kest::test
