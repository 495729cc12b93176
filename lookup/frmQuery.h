#pragma once
// The look-up window's controller: its state, its commands and the network events, producing the
// output text and the status texts. No widget code: the Qt view (frmQueryView) and the command
// line (lookup_cli) both drive it, and unit tests run it on a scripted network.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/query_net.h"
#include "lookup/query_text.h"
#include "platform/host.h"

namespace platform {
class SettingsStore;
}

namespace lookup {

struct QueryType {
    const char* caption;  // the type menu's caption
    const char* word;     // the type word
    int code;             // the QTYPE sent; 0 for WHOIS
};
// The type menu, in order.
extern const std::array<QueryType, 11> kQueryTypes;
// The entry of a type word in any case ("any" finds "Any"); nullptr for an unknown word.
const QueryType* FindQueryType(std::string_view word);

// The WHOIS servers named by their operators.
inline constexpr const char* kRegistryWhois = "whois.verisign-grs.com";  // .com .net .org
inline constexpr const char* kArinWhois = "whois.arin.net";
inline constexpr const char* kRipeWhois = "whois.ripe.net";
inline constexpr const char* kApnicWhois = "whois.apnic.net";
// Referrals one WHOIS request follows at most.
inline constexpr int kMaxWhoisReferrals = 3;
// Tries of one query datagram when the send fails for want of buffer space.
inline constexpr int kMaxSendTries = 3;
// The WHOIS reply kept at most; a server that sends more is cut off there.
inline constexpr size_t kMaxWhoisReply = 1 << 20;

enum class StatusIcon { Ready, Error };

class frmQuery : public INetEvents {
  public:
    frmQuery(IQueryNet& net, platform::IPrompt& prompt, platform::ILauncher& launcher);
    ~frmQuery() override;
    frmQuery(const frmQuery&) = delete;
    frmQuery& operator=(const frmQuery&) = delete;

    // Start: the WHOIS table from whois.dat and the default server from kestrund.ini of the
    // program directory; the server field gets the default through four bytes and back.
    void Load(const std::filesystem::path& programDir);
    // The three view settings (section "Look Up"), and the support page's address.
    void ReadSettings(const platform::SettingsStore& store);
    void WriteSettings(platform::SettingsStore& store) const;
    // Closing the window: the sockets closed.
    void Close();

    // ---- Commands
    // A look-up of the given type word (the type menu, the drop-down): it becomes the current type.
    void LookUp(const std::string& typeWord);
    // Enter, the toolbar's "Look Up" and "&Look Up Record": the current type again. Enter does
    // nothing while the toolbar's button is disabled.
    void LookUpCurrent();
    void Stop();
    void Copy();
    void Help();
    void OnlineSupport();
    // Leaving the name or the server field.
    void NameLeft();
    void ServerLeft();

    // ---- Fields the view reads and writes
    std::string nameText;
    std::string serverText;
    std::vector<std::string> nameHistory, serverHistory;
    bool recursion = true;   // "&Request &Recursion"
    bool autoWhois = false;  // "Auto WHOIS Server"
    bool showToolBar = true, showStatusBar = true, showServer = false;
    uint16_t dnsPort = 53, whoisPort = 43;
    std::string supportPage;

    // ---- State the view shows (read only)
    const std::string& Output() const { return output_; }
    const std::string& StatusText() const { return statusText_; }
    StatusIcon Icon() const { return statusIcon_; }
    const std::string& CurrentType() const { return currentType_; }
    const std::string& LookUpCaption() const { return lookUpCaption_; }
    bool InputsEnabled() const { return inputsEnabled_; }  // the panel Pic
    bool LookUpEnabled() const { return lookUpEnabled_; }  // toolbar "Look Up", Enter
    bool LookUpMenuVisible() const { return !stopVisible_; }
    bool StopMenuVisible() const { return stopVisible_; }
    bool StopEnabled() const { return stopEnabled_; }
    bool CopyEnabled() const { return copyEnabled_; }
    bool Running() const { return busy_ != Work::None; }
    uint32_t QueryId() const { return queryId_; }
    const std::vector<WhoisEntry>& WhoisTable() const { return whoisTable_; }

    // ---- Notifications to the view (or the command line)
    std::function<void()> OnChanged;  // fields or state changed: refresh
    std::function<void()> OnBeep;
    std::function<void()> OnFocusName;
    // A look-up ended: true with "Done", false after an error ("Cannot connect to ...", a socket
    // error text). Stop does not call it.
    std::function<void(bool done)> OnFinished;

    // ---- INetEvents
    void OnResolved(uint64_t ticket, const std::string& ip, const std::string& error) override;
    void OnDatagram(const std::string& data, const std::string& fromIp, uint16_t fromPort) override;
    void OnTcpConnect(Channel ch) override;
    void OnTcpData(Channel ch, const std::string& bytes) override;
    void OnTcpClose(Channel ch) override;
    void OnTcpError(Channel ch, int number, const std::string& text) override;

  private:
    enum class Work { None, Resolving, Udp, Zone, Whois };
    void Whois(bool fresh);
    void StartWork(Work work, const std::string& serverText);
    void Connect(const std::string& ip);
    void SetBusyInputs();
    void Reenable();
    void Done();
    void Fail(const std::string& status);
    void CannotConnect();
    void SetStatus(const std::string& text, StatusIcon icon);
    void AddHistory();
    void Changed();
    void WhoisClosed();
    uint32_t NextId();

    IQueryNet& net_;
    platform::IPrompt& prompt_;
    platform::ILauncher& launcher_;
    std::vector<WhoisEntry> whoisTable_;

    std::string currentType_ = "A";
    int typeCode_ = 1;
    uint32_t queryId_ = 0;
    std::string lastDnsServer_;
    bool stopped_ = false;
    std::string tcpQuery_;
    TransferReader transfer_;
    std::string whoisBuffer_;
    bool whoisLastCr_ = false;
    int referrals_ = 0;

    Work busy_ = Work::None;
    Work pending_ = Work::None;  // what a host look-up leads to
    uint64_t ticket_ = 0;
    std::string targetIp_;
    uint16_t targetPort_ = 0;
    std::string query_;

    std::string output_;
    std::string statusText_;
    StatusIcon statusIcon_ = StatusIcon::Ready;
    std::string lookUpCaption_ = "Look Up";
    bool inputsEnabled_ = true, lookUpEnabled_ = true, stopVisible_ = false, stopEnabled_ = false,
         copyEnabled_ = true;
};

}  // namespace lookup
