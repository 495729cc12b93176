#pragma once
// The event log through syslog(3), facility daemon.
#include <string>

#include "platform/host.h"

namespace platform {

class SyslogEventLog : public IEventLog {
  public:
    // ident: the service name, as syslog shows it.
    explicit SyslogEventLog(std::string ident);
    ~SyslogEventLog() override;
    SyslogEventLog(const SyslogEventLog&) = delete;
    SyslogEventLog& operator=(const SyslogEventLog&) = delete;

    // LOG_ERR, "event <id>: <text>".
    void Error(int eventId, const std::string& text) override;
    // LOG_INFO.
    void Info(const std::string& text) override;

  private:
    std::string ident_;  // openlog keeps the pointer
};

}  // namespace platform
