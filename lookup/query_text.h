#pragma once
// The look-up tool's text: names as the user types them, durations, type names, and replies and
// zone transfer streams turned into the lines the output box shows. Plain C++ over the codec.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lookup {

inline constexpr const char* kCrLf = "\r\n";

// Trim, lower-case, keep a-z 0-9 - . / _, drop outer dots, fold doubled dots.
std::string CleanQueryName(std::string_view text);

// The four bytes of dotted text: each piece's absolute numeric value, 0 for a non-number or a
// value above 255. IPText joins them again.
std::string IPToBytes(std::string_view text);
std::string IPText(std::string_view bytes);
// True when text survives the round trip through four bytes unchanged.
bool IsIPAddress(std::string_view text);
// 1.2.3.4 -> 4.3.2.1.in-addr.arpa (cleaned, no final dot).
std::string ReverseName(std::string_view ip);

// Seconds in words: "1 Day, 1 Hour, 1 Minute, 1 Second", "0 Seconds".
std::string DurationText(double seconds);
// The tool's own short list of type names; "?n?" for others.
std::string TypeName(int64_t type);

// Walks DNS message sections from `rest` (a part of `message`) and appends output lines (each
// ending in CR LF). Holds the state of one walk.
struct SectionWalk {
    std::string_view message;
    std::string_view rest;
    bool headings = true;      // UDP replies: "Answer:" and the like before sections 2-4
    bool transfer = false;     // zone transfers: an SOA after the first message ends the walk
    bool firstMessage = true;  // zone transfers: SOAs are printed while set
    bool sawEndSoa = false;    // set when a later SOA ended the walk
};
// Walks the four sections with the counts given; false when the message ended inside an entry
// (the caller drops the rest silently).
bool WalkSections(SectionWalk& walk, const uint32_t counts[4], std::string& out);

// One record's lines (without the TTL line): owner, type and RDATA as found in the message.
std::string RecordLines(std::string_view message, const std::string& owner, int32_t type,
                        std::string_view rdata);

// The text of a UDP reply to a query for `name` (as typed) of type `qtype`, with recursion asked
// or not. False when the message cannot be walked; `out` then holds the lines made so far.
bool ReplyText(std::string_view message, const std::string& name, int32_t qtype, bool recursion,
               std::string& out);

// A zone transfer stream: messages with 2-byte length prefixes, consumed as they complete.
class TransferReader {
  public:
    enum class Step {
        NeedMore,   // no whole message buffered
        Handled,    // one message taken off and written
        Finished,   // the first message carried an error code, or a later SOA came
        Malformed,  // one message taken off that could not be walked (its lines so far are kept)
    };
    void Add(std::string_view bytes) { buffer_.append(bytes); }
    // Takes one whole message off the buffer, if there is one, and appends its lines to out.
    Step Next(std::string& out);
    bool FirstMessage() const { return first_; }
    void Clear() { buffer_.clear(); }
    size_t Buffered() const { return buffer_.size(); }
    // Called once a message with RCODE 0 started the transfer (the caller enables Copy then).
    bool Started() const { return started_; }

  private:
    std::string buffer_;
    bool first_ = true;
    bool started_ = false;
};

// whois.dat: "domain : server" per line, both halves trimmed and lower-cased.
struct WhoisEntry {
    std::string Domain, Server;
};
std::vector<WhoisEntry> ParseWhoisTable(std::string_view text);
// The last PRIMARYIP value of the settings text, upper-cased; "127.0.0.1" when there is none.
std::string DefaultServer(std::string_view iniText);

}  // namespace lookup
