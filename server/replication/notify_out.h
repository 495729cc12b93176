#pragma once
// Change notifications sent: when a zone changes, one NOTIFY message (same bytes, same ID) goes
// over the DNS socket to every secondary in the zone's NOTIFY list, except the server itself.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "server/replication/message_ids.h"
#include "server/resolver/clDNSRequest.h"

class clDNSAuthData;

struct NotifyContext {
    clDNSAuthData* zones = nullptr;
    clReplicationIds* ids = nullptr;
    IDatagramSender* sender = nullptr;                   // null sends nothing
    const std::vector<std::string>* localIPs = nullptr;  // the server's own addresses
    std::function<void(int kind, std::string_view text)> log;
    std::function<void(int icon)> doTray;
    std::function<void()> pump;  // lets pending events run once
};

class clNotifier {
  public:
    static constexpr uint16_t kNotifyPort = 53;

    explicit clNotifier(NotifyContext context) : ctx_(std::move(context)) {}

    // Tells the zone's secondaries that it changed; nothing when the zone is not held or has no
    // NOTIFY list.
    void Notify(const std::string& zoneName);

    // The NOTIFY message: ID, flags 0x24 0x00, one question (the zone, SOA, class 1).
    static std::string NotifyMessage(int32_t id, std::string_view zoneName);

  private:
    bool IsOwnAddress(const std::string& ip) const;
    void Log(std::string_view text) const;

    NotifyContext ctx_;
};
