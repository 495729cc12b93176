#include "server/replication/notify_out.h"

#include <algorithm>

#include "core/modDNS.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"

std::string clNotifier::NotifyMessage(int32_t id, std::string_view zoneName) {
    std::string m;
    modDNS::AppendShortL(m, id);
    m.append({'\x24', '\0', '\0', '\1', '\0', '\0', '\0', '\0', '\0', '\0'});
    const std::string q = modDNS::ZipName("", zoneName);
    if (q.empty()) return {};
    m += q;
    modDNS::AppendShortL(m, modDNS::kTypeSOA);
    m.append({'\0', '\1'});
    return m;
}

void clNotifier::Log(std::string_view text) const {
    if (ctx_.log) ctx_.log(0, text);
}

bool clNotifier::IsOwnAddress(const std::string& ip) const {
    if (ip == "127.0.0.1") return true;
    return ctx_.localIPs &&
           std::find(ctx_.localIPs->begin(), ctx_.localIPs->end(), ip) != ctx_.localIPs->end();
}

void clNotifier::Notify(const std::string& zoneName) {
    try {
        if (!ctx_.zones || !ctx_.ids) return;
        const auto zone = ctx_.zones->GetZone(zoneName);
        if (!zone || zone->Slaves.empty()) return;
        // The list is walked as it was: a pump may reload or drop the zone meanwhile.
        const std::vector<std::string> slaves = zone->Slaves;
        const std::string name = zone->Name;
        const std::string message = NotifyMessage(ctx_.ids->Next(), name);
        if (message.empty()) return;
        const std::string shown = name == "." ? std::string("<root>") : name;
        for (const std::string& ip : slaves) {
            if (IsOwnAddress(ip)) continue;
            Log("Sending Zone Update Notification to " + ip + " about " + shown);
            if (ctx_.sender) {
                IDatagramSender::Failure failure;
                const bool sent = ctx_.sender->SendTo(message, ip, kNotifyPort, {}, failure);
                if (!sent) {
                    Log("Zone Notify WS Error " + std::to_string(failure.number) + " " +
                        failure.text);
                }
            }
            if (ctx_.doTray) ctx_.doTray(1);
            if (ctx_.pump) ctx_.pump();
        }
    } catch (...) {
        kest::ReportError("clDNSAuthData Notify");
    }
}
