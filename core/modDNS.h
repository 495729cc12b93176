#pragma once
// The DNS message codec: names in text and wire form with compression, the big-endian
// field readers and writers, the text tables, record descriptions, name clean-up, and the decoder
// of the resource records of a reply into clDNSRecord / clDNSAnswer.
//
// Byte strings are std::string (or std::string_view when only read). Names are in the server's
// text form: lower case, a dot after every label, "." for the root ("" from UnzipName),
// "incomplete." for a name that could not be decoded.
//
// In-memory record Data by type (the common currency of every Part that holds records):
//   A      1   the 4 address bytes, network order
//   NS     2   the server's name, text form
//   CNAME  5   the canonical name, text form
//   PTR   12   the target name, text form
//   SOA    6   MNAME text, one 0 byte, RNAME text, one 0 byte, then 20 bytes: SERIAL, REFRESH,
//              RETRY, EXPIRE, MINIMUM, each 4 bytes big-endian and unsigned (ExtractLongU)
//   MX    15   2 bytes preference (big-endian, unsigned 16-bit), then the exchange name
//   TXT   16   the RDATA as on the wire: character strings, each a length byte and its bytes
//   SRV   33   priority, weight, port (2 bytes each, big-endian, unsigned), then the target name
//
// Every operation traps its own errors, reports them with kest::ReportError under "modDNS <Op>"
// ("modMain CleanName" / "modMain CleanNameF" for the clean-ups) and returns its neutral value.
// Malformed input is not an error. Nothing here keeps state between calls, except the optional
// ZipIndex the caller owns.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSAnswer.h"
#include "core/clDNSRecord.h"

namespace modDNS {

// ---- Record types kept by the system ------------------------------------------------------------
inline constexpr int32_t kTypeA = 1;
inline constexpr int32_t kTypeNS = 2;
inline constexpr int32_t kTypeCNAME = 5;
inline constexpr int32_t kTypeSOA = 6;
inline constexpr int32_t kTypePTR = 12;
inline constexpr int32_t kTypeMX = 15;
inline constexpr int32_t kTypeTXT = 16;
inline constexpr int32_t kTypeSRV = 33;
inline constexpr int32_t kTypeANY = 255;
// True for the eight types above (the only ones decoded into records and sent in replies).
bool IsKeptType(int32_t type);

// TTL cap of decoded reply records (one week).
inline constexpr int32_t kMaxReplyTTL = 604800;

// ---- Section names ------------------------------------------------------------------------------
// A constant table (no start-up call needed): index 1 "Question", 2 "Answer", 3 "Authority",
// 4 "Additional"; index 0 is empty.
inline constexpr std::array<std::string_view, 5> kSectionNames = {"", "Question", "Answer",
                                                                  "Authority", "Additional"};
// The name of section 1 to 4; "" for any other number.
std::string_view SectionName(int secNo);

// ---- Names
// --------------------------------------------------------------------------------------- Limits of
// the wire form (RFC 1035) that the encoder and the decoders enforce.
inline constexpr size_t kMaxLabel = 63;      // characters of one label
inline constexpr size_t kMaxWireName = 255;  // bytes of a whole uncompressed name, final 0 included
inline constexpr size_t kMaxPointerTarget = 16383;  // highest offset a pointer can hold
inline constexpr int kMaxPointerHops = 128;         // pointers one decoded name may follow

// The name in wire form, compressed against the message so far, exactly as the server always has:
// labels split at dots (empty labels vanish, the name is made absolute), then compression passes
// repeated until one changes nothing; in each, the longest tail that occurs anywhere in the
// message (first occurrence, bytewise, header included) becomes a pointer. The root ("" or ".")
// is the single 0 byte.
//
// Refusal: a name that has no valid wire form returns "" (a real encoding is never empty). That is
// a label of more than 63 characters, a whole name of more than 255 bytes, or a label holding a
// byte below 0x21 or 0x7F (which the decoders would read as "incomplete."). The caller leaves the
// record (or question) out; CanZipName tells in advance. A tail whose first occurrence lies at
// offset 16384 or beyond (out of a pointer's reach) is left uncompressed and the pass goes on with
// the shorter tails.
//
// Speed: in a message of up to 16384 bytes a tail occurs whenever a longer one does, so a pass
// searches the shortest tail first (a second pass usually ends there) and then halves: about
// log2(labels) + 1 memchr-driven searches per pass instead of one per label. Longer messages are
// searched tail by tail, longest first. The reply builder should use the
// ZipIndex form below, which does not search the message at all.
std::string ZipName(std::string_view message, std::string_view name);

// An index of a message being built, for the reply builder's hot path: the same bytes as the
// two-argument ZipName, found by a look-up instead of a scan. Keep one per message being built and
// pass the message so far each time. The index keeps a copy of what it has indexed and compares
// it on every call, so any change to the message (not only appending) is safe: a prefix that no
// longer matches is indexed anew. It can be reused for the next message (it rebuilds itself).
class ZipIndex {
  public:
    ZipIndex();
    ~ZipIndex();
    ZipIndex(const ZipIndex&) = delete;
    ZipIndex& operator=(const ZipIndex&) = delete;
    ZipIndex(ZipIndex&&) noexcept;
    ZipIndex& operator=(ZipIndex&&) noexcept;
    void Clear();

    struct Impl;

  private:
    friend std::string ZipName(std::string_view, std::string_view, ZipIndex&);
    std::unique_ptr<Impl> impl_;
};
std::string ZipName(std::string_view message, std::string_view name, ZipIndex& index);

// True when ZipName would encode the name (does not refuse it).
bool CanZipName(std::string_view name);

// ZipName for a message being built: a scan while the message is small, the index beyond 1 KiB
// (where the scan costs more than keeping the index); the same bytes either way.
std::string ZipNameIn(std::string_view message, std::string_view name, ZipIndex& index);

// Appends a record's data in wire form, its 16-bit length and then the data, from the stored form:
// A as held; the names of NS, CNAME, PTR, SOA, MX and SRV compressed against the message as it
// stands before the data (both SOA names against that same message); any other type as held.
// False, with the message unchanged, when the data cannot be written (a name refused, data
// shorter than its type's form, more than 65535 bytes). rdata is the caller's scratch buffer.
bool AppendRecordData(std::string& message, int32_t type, std::string_view data, ZipIndex& index,
                      std::string& rdata);

// The name at a 0-based offset of the whole message, text form; "" for the root. "incomplete."
// when any part fails: the offset or a label running past the end (a label needs one more byte
// after it), a bad pointer, a label holding "." or a byte below 0x21 or 0x7F, more than
// kMaxPointerHops pointers (a loop), or a name longer than 255 wire bytes. Labels are lower-cased
// (ASCII). Pointers may point forward or backward.
std::string UnzipName(std::string_view message, int offset);

// The name at the front of rest (a part of message: its remaining bytes, or a record's RDATA),
// text form, "." for the root; pointers are resolved against the whole message. With consume set,
// rest loses the name's bytes (up to its 0 byte or its pointer). When rest is empty or the name
// runs off its end, rest becomes empty (consume set) and "incomplete." is returned; any other
// failure (bad pointer, bad byte, loop, length) gives "incomplete." but still consumes the name.
std::string ExtractName(std::string_view message, std::string_view& rest, bool consume);
std::string ExtractName(std::string_view message, std::string& rest, bool consume);

// ---- Integer fields
// ------------------------------------------------------------------------------ Readers of the
// front of data (big-endian). With consume set the bytes read are removed. When data is too short,
// 0 is returned and data becomes empty, with or without consume. 0 to
// 32767: two bytes, top bit cleared (section counts only; types, classes and
// lengths use the full 16-bit readers).
int16_t ExtractShort(std::string_view& data, bool consume);
int16_t ExtractShort(std::string& data, bool consume);
// 0 to 65535: two bytes (IDs, types, classes, RDLENGTH, MX and SRV numbers).
int32_t ExtractShortL(std::string_view& data, bool consume);
int32_t ExtractShortL(std::string& data, bool consume);
// Four bytes, signed: values of 2147483648 and above read as 2147483647 (TTLs).
int32_t ExtractLong(std::string_view& data, bool consume);
int32_t ExtractLong(std::string& data, bool consume);
// Four bytes, unsigned 32-bit (SOA serial, refresh, retry, expire, minimum). An addition.
uint32_t ExtractLongU(std::string_view& data, bool consume);
uint32_t ExtractLongU(std::string& data, bool consume);

// Writers. MakeShort: (floor(n / 256) AND 0x7F), (n AND 0xFF). MakeShortL: the same with 0xFF.
std::string MakeShort(int64_t n);
std::string MakeShortL(int64_t n);
// 4 bytes of floor(x), big-endian, top byte masked with 0x7F. Clamped to 0 .. 2147483647 first
// (2147483648 and more give 2147483647; negatives and NaN give 0).
std::string MakeLong(double x);
// 4 bytes big-endian of an unsigned 32-bit number (SOA numbers). An addition.
std::string MakeLongU(uint32_t n);

// Appending forms for builders (same bytes as the functions above).
void AppendShortL(std::string& out, int64_t n);
void AppendLongU(std::string& out, uint32_t n);

// ---- Text tables --------------------------------------------------------------------------------
std::string RTypeN(int64_t type);   // mnemonic of |type|; "?n?" for unknown numbers
std::string RCodeN(int64_t rcode);  // response code text
std::string OpCodeN(int64_t opcode);
std::string ClassN(int64_t cls);

// One-line description for the log: "MX-record for zone.org. = mail.zone.org. (Preference 10)".
std::string RecordText(const clDNSRecord& record);
// TXT data: the character strings joined with ", ", then bytes below 32 or above 126 removed. A
// string whose length runs past the end contributes the bytes that are there.
std::string TextData(std::string_view txtData);

// ---- Clean-up of typed or read names ------------------------------------------------------------
// Trim blanks, lower-case (ASCII), keep only a-z 0-9 - . * / _, drop outer dots, fold doubled
// dots. No final dot is added.
std::string CleanName(std::string_view text);
// Remove blanks anywhere, lower-case, drop outer dots, fold doubled dots.
std::string CleanNameF(std::string_view text);

// ---- SOA data helpers (additions)
// ----------------------------------------------------------------
struct SoaFields {
    std::string mname, rname;
    uint32_t serial = 0, refresh = 0, retry = 0, expire = 0, minimum = 0;
};
// Splits SOA Data; nothing when it is not in the SOA form (two 0-terminated names, 20 bytes).
std::optional<SoaFields> ParseSOAData(std::string_view data);
std::string MakeSOAData(const SoaFields& soa);

// ---- Decoding the records of a reply
// -------------------------------------------------------------
enum class RecordResult {
    Kept,        // class 1, a kept type, well-formed: record is set and goes into its section
    NotKept,     // class 1, but another type, a bad owner or target name ("incomplete."), or data
                 // shorter than its type's form: record is set (for the log line), not kept
    OtherClass,  // class other than 1: skipped without logging, record is null
    Incomplete,  // the message ended inside the record: stop decoding; record is null
};
struct DecodedRecord {
    RecordResult result = RecordResult::Incomplete;
    RecordRef record;  // new, non-permanent, TTL capped at 604800 and set at `now`
};
// Decodes the resource record at the front of rest (the reply record decoder). On any
// result but Incomplete, rest is advanced to the next record; on Incomplete rest is emptied.
// TYPE, CLASS and RDLENGTH are read as full 16-bit values.
DecodedRecord DecodeRecord(std::string_view message, std::string_view& rest, double now);

// Convenience decoder of a whole reply for callers and tests (the request intake's
// decoding without the logging): header fields into the answer (Id, TC, AA, RCode), the first
// question into RqName / RqType (further questions skipped), then the answer, authority and
// additional sections record by record, kept records appended to Section2..4 (directly, not via
// SectionAdd). onRecord, when given, is called for every class-1 record (kept or not) with its
// section number 2 to 4. Returns false for an incomplete reply (TC is then set).
struct DecodeObserver {
    virtual ~DecodeObserver() = default;
    virtual void OnRecord(int secNo, const clDNSRecord& record, bool kept) = 0;
};
bool DecodeReply(std::string_view message, clDNSAnswer& answer, double now,
                 DecodeObserver* observer = nullptr);

// Appends one TXT string the way zone files carry it: in double quotes with a blank after, and
// every byte outside printable ASCII or special to the zone file syntax as a 3-digit octal escape.
void AppendQuotedTxt(std::string& out, std::string_view text);

}  // namespace modDNS
