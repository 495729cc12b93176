#pragma once
// The reverse zone wizard's controller: a network of /24 to /30, one row per address with its host
// name, and the reverse zone written from the rows.
#include <string>
#include <vector>

#include "editor/newzone.h"

namespace editor {

class frmArpa {
  public:
    enum class Field { None, IP, Zone };
    struct Row {
        std::string ip;
        std::string name;  // without final dot; may be empty
        bool selected = false;
    };

    explicit frmArpa(ZoneHost host);

    // The comSubnet entries; index + 24 is the prefix length.
    static const std::vector<std::string>& SubnetTexts();
    // The network ("192.168.1.0/24") of the loaded zone, from its name or the reverse mappings;
    // "" when it has none.
    static std::string NetworkOfZone(const clEditor& ed);

    // Opening from the main window: offers to edit the loaded zone when it is a reverse zone.
    // False when the user cancels (the wizard does not open).
    bool OpenFromMain();
    // Prepares the wizard to edit the loaded zone of the network "a.b.c.d/p".
    void LoadZone(const std::string& snet);
    // The record dialog's hand-over: an address and its host name, the first size.
    void HandOver(const std::string& ip, const std::string& name);

    void ChooseSubnet(int index);
    // Leaving txtIP: the table follows a changed address.
    void IPLeft(const std::string& text);
    // frmArpaEdit's and frmArpaFill's results, for the selected rows.
    void EditSelected(const std::string& name);
    void FillSelected(const std::string& domain);
    void SelectAll();
    void ClearSelected();
    // The row frmArpaEdit opens with (the first selected one), or -1.
    int FirstSelected() const;
    // The reverse name the look-up asks for: that of the network's first host address.
    std::string LookFor() const;
    // True when the wizard is to close with the zone stored.
    bool OK();

    std::vector<std::string> Mappings;
    std::string Network;     // dotted, of the chosen size
    std::string EditedZone;  // cleaned; "" when creating
    std::string txtIP;
    int SubnetIndex = 0;
    std::string txtZone;
    std::vector<Row> Rows;
    bool ZoneLocked = true;
    bool LookUpEnabled = false;
    Field FocusWanted = Field::None;

  private:
    void Rebuild();
    void SaveNames();
    // The row addresses of a zone's PTR owners one label below it, within the table's range.
    bool ShownPTR(const clDNSRecord& r, const std::string& zoneName) const;

    ZoneHost host_;
};

// Pads an address with blanks to 15 characters (a Mappings entry's key).
std::string MappingKey(const std::string& ip);

}  // namespace editor
