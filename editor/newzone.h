#pragma once
// What the zone-making dialogs share: the main window's zone list and zone selection, today's
// serial, writing a new zone's file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "editor/editor.h"

namespace editor {

// The zone-making dialogs' view of the main window.
struct ZoneHost {
    clEditor& ed;
    const kest::IClock& clock;
    // The zone list texts as the main window shows them.
    std::vector<std::string> zoneList;
    // Adds a zone text to the zone list, selects it and loads it through the zone selection
    // (saving the zone left first); false when the zone left could not be saved.
    std::function<bool(const std::string&)> addAndSelect;
};

// Today as "yyyymmdd01".
uint32_t TodaySerial(const kest::IClock& clock);
// The blank-separated words of a line.
std::vector<std::string> Words(const std::string& line);
bool Listed(const std::vector<std::string>& list, const std::string& entry);
// Writes a new zone's file (atomically, like every zone file) and shows why when it fails.
bool WriteNewZone(clEditor& ed, const clZone& zone);
// Adds and selects a zone written just now; then it counts as changed, with the serial to keep.
void AdoptNewZone(ZoneHost& host, const std::string& text, int64_t zoneSerial);
// An A record's data of a dotted address.
std::string AddressData(const std::string& ip);
// The main window's zone list entry that a dialog's name field names ("" is the root).
inline std::string ListText(const std::string& name) {
    return name.empty() ? "<root>" : name;
}

}  // namespace editor
