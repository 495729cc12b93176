#include "editor/newzone.h"

#include <algorithm>

#include "core/datetime.h"
#include "core/modIP.h"
#include "core/numtext.h"

namespace editor {

uint32_t TodaySerial(const kest::IClock& clock) {
    const std::string text = kest::FormatDateCompact(clock.LocalNow()) + "01";
    return static_cast<uint32_t>(kest::LeadingInteger(text, 0, UINT32_MAX));
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    std::string rest = line;
    for (std::string w = NextWord(rest); !w.empty(); w = NextWord(rest)) out.push_back(w);
    return out;
}

bool Listed(const std::vector<std::string>& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
}

bool WriteNewZone(clEditor& ed, const clZone& zone) {
    std::string error;
    if (WriteZoneFile(ed.DataDir(), zone, error)) return true;
    ed.Prompt().Message(platform::IPrompt::Icon::Error, kTitle,
                        "Could not save the zone file " +
                            (ed.DataDir() / ZoneFileName(zone.Name)).string() + "!\n" + error);
    return false;
}

void AdoptNewZone(ZoneHost& host, const std::string& text, int64_t zoneSerial) {
    if (!host.addAndSelect(text)) return;
    host.ed.ZoneChanged = true;
    host.ed.ZoneSerial = zoneSerial;
}

std::string AddressData(const std::string& ip) {
    return modIP::IPToData(ip);
}

}  // namespace editor
