#pragma once
// The zone-making dialogs over an editor with its own program folder; the main window's zone
// selection is played by saving the zone left and reading the new one, as the main window does.
#include <algorithm>
#include <string>
#include <vector>

#include "editor/newzone.h"
#include "tests/editor/editor_fixture.h"

namespace kest::test {

class ZonesFixture : public EditorFixture {
  protected:
    // Writes a zone file and loads it as the selected zone.
    void Load(const std::string& zoneText, const std::string& file) {
        WriteFile("data/" + editor::ZoneFileName(editor::ZoneOfText(zoneText)), file);
        ed.CurrentZoneText = zoneText;
        ed.LoadZone(zoneText);
    }
    editor::ZoneHost Host() {
        return {ed, clock, zoneList, [this](const std::string& text) {
                    selected.push_back(text);
                    if (!ed.CommitZone()) return false;
                    zoneList.push_back(text);
                    ed.CurrentZoneText = text;
                    ed.LoadZone(text);
                    return true;
                }};
    }
    // The zone as the file on disk has it.
    editor::clZone OnDisk(const std::string& zoneName) {
        editor::KeyCounter keys;
        editor::ReadResult result;
        return editor::ReadZoneFile(ed.DataDir(), zoneName, keys, result);
    }
    // "owner TYPE data" of each record, data as text (addresses dotted, MX/SRV numbers first).
    static std::vector<std::string> Texts(const editor::clZone& z) {
        std::vector<std::string> out;
        for (const auto& r : z.Records) {
            std::string data;
            const auto& d = r.Data;
            if (r.RecType == editor::kA && d.size() == 4) {
                for (int i = 0; i < 4; ++i)
                    data += (i ? "." : "") + std::to_string(static_cast<unsigned char>(d[i]));
            } else if (r.RecType == editor::kMX) {
                data = std::to_string(editor::Short(d, 0)) + " " + d.substr(2);
            } else if (r.RecType == editor::kSRV) {
                data = std::to_string(editor::Short(d, 0)) + " " +
                       std::to_string(editor::Short(d, 2)) + " " +
                       std::to_string(editor::Short(d, 4)) + " " + d.substr(6);
            } else if (r.RecType == editor::kTXT) {
                for (const auto& t : editor::TxtStrings(d)) data += t;
            } else {
                data = d;
            }
            out.push_back(r.Name + " " + editor::TypeName(r.RecType) + " " + data + " " +
                          std::to_string(r.TTL));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string LastBox() const { return prompt.boxes.empty() ? "" : prompt.boxes.back().text; }

    std::vector<std::string> zoneList;
    std::vector<std::string> selected;
};

}  // namespace kest::test
