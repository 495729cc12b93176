#include "server/replication/notify_in.h"

#include "core/report.h"

namespace modReplication {
namespace {

constexpr int kLogEvent = 0;

std::string Shown(const std::string& name) {
    return name == "." ? "<root>" : name;
}

}  // namespace

clNotifyIn::clNotifyIn(clDNSAuthData& store, ctlZTS& client, NotifyInHost host)
    : store_(store), client_(client), host_(std::move(host)) {}

bool clNotifyIn::Send(const std::string& reply, const std::string& ip, int32_t port) {
    if (port < 0) {
        ITcpAnswerSink* tcp = host_.tcp ? host_.tcp() : nullptr;
        if (tcp) tcp->SendAnswer(-port, reply);
        return true;
    }
    if (!host_.sender) return true;
    IDatagramSender::Failure failure;
    if (host_.sender->SendTo(reply, ip, static_cast<uint16_t>(port), "", failure)) return true;
    store_.AddLine(kLogEvent,
                   "ProcNotify WS Error " + std::to_string(failure.number) + " " + failure.text);
    return false;
}

void clNotifyIn::ProcNotify(const std::string& ip, int32_t port, const std::string& zoneName,
                            const std::string& message) {
    try {
        if (message.size() < 4) return;
        std::string reply = message;
        reply[2] = static_cast<char>(static_cast<unsigned char>(reply[2]) | 0x80);
        if (!store_.GetZone(zoneName)) {
            store_.AddLine(kLogEvent, "Sending answer to " + ip +
                                          " about Zone Update Notification for " + Shown(zoneName));
            store_.AddLine(kLogEvent, "-> Header: Server Failure (Unknown Zone)");
            reply[3] = 2;
            Send(reply, ip, port);
            if (host_.doTray) host_.doTray(1);
            return;
        }
        store_.AddLine(kLogEvent, "Sending Notification Acknowledgement to " + ip);
        Send(reply, ip, port);
        if (host_.doTray) host_.doTray(1);
        if (host_.pump) host_.pump();
        if (!store_.Settings().MasterDir.empty()) return;
        // Events ran: the zone may have gone or been replaced.
        const auto zone = store_.GetZone(zoneName);
        if (!zone) return;
        zone->NextRefresh = store_.Clock().Now() + zone->SOARetry / 86400.0;
        client_.Que(zone->Name);
    } catch (...) {
        kest::ReportError("clDNSAuthData ProcNotify");
    }
}

}  // namespace modReplication
