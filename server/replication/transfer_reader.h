#pragma once
// The reading side of a zone transfer: the TCP byte stream from the primary cut into its
// length-prefixed messages, and the answer records of each message checked and turned into the
// store's record form, up to the closing SOA.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSRecord.h"

namespace modReplication {

class clTransferReader {
  public:
    // More than this many bytes from one primary ends the transfer.
    static constexpr size_t kMaxTransferBytes = size_t{64} << 20;

    enum class Status {
        NeedMore,  // waiting for more bytes
        Complete,  // the closing SOA has been seen
        TooLarge,  // the size cap was passed: the transfer fails
    };

    // Starts reading the transfer of zoneName (any case); records get their TTL at now.
    void Start(std::string_view zoneName, double now);
    // Appends bytes and processes every whole message they complete.
    Status Feed(std::string_view bytes);

    bool IsComplete() const { return complete_; }
    // The records kept so far: the opening SOA first, the closing SOA not included.
    const std::vector<RecordRef>& Records() const { return records_; }
    std::vector<RecordRef> TakeRecords() { return std::move(records_); }
    // Whole messages read so far, and the response code of the first (-1 before it).
    int Messages() const { return messages_; }
    int FirstRCode() const { return firstRCode_; }
    size_t TotalBytes() const { return total_; }

  private:
    void ProcessMessage(std::string_view message);
    bool Keep(const std::string& owner, int32_t type, int32_t ttl, std::string_view message,
              std::string_view rdata);

    std::string zone_;  // lower case, trailing dot
    double now_ = 0;
    std::string buffer_;
    size_t consumed_ = 0;  // bytes at the front of buffer_ already read
    std::vector<RecordRef> records_;
    bool complete_ = false;
    bool tooLarge_ = false;
    int messages_ = 0;
    int firstRCode_ = -1;
    size_t total_ = 0;
};

}  // namespace modReplication
