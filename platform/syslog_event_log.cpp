#include "platform/syslog_event_log.h"

#include <syslog.h>

namespace platform {

SyslogEventLog::SyslogEventLog(std::string ident) : ident_(std::move(ident)) {
    ::openlog(ident_.c_str(), LOG_PID, LOG_DAEMON);
}

SyslogEventLog::~SyslogEventLog() {
    ::closelog();
}

void SyslogEventLog::Error(int eventId, const std::string& text) {
    ::syslog(LOG_ERR, "event %d: %s", eventId, text.c_str());
}

void SyslogEventLog::Info(const std::string& text) {
    ::syslog(LOG_INFO, "%s", text.c_str());
}

}  // namespace platform
