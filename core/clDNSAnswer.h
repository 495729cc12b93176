#pragma once
// One question with its header flags and the three record sections. The zone store and
// the cache return their results as answers, a received reply is decoded into one (modDNS
// DecodeReply), and the resolver builds the reply to a client in one.
#include <cstdint>
#include <string>
#include <vector>

#include "core/clDNSRecord.h"

// A section: an ordered list of shared records. Positions are counted from 1 in the server's texts:
// position i is element [i - 1] here. Records are appended at the end.
using RecordList = std::vector<RecordRef>;

class clDNSAnswer {
  public:
    // Members in their long-standing order; a new answer has empty strings, zeros, false
    // flags and three empty sections (the question, section 1, is only RqName and RqType).
    std::string RqName;
    int32_t RqType = 0;   // full 16-bit question type
    int32_t Id = 0;       // message ID, 0 to 65535
    bool RA = false;      // recursion available; in a reply being built: recursion allowed
    bool AA = false;      // authoritative answer
    int16_t RCode = 0;    // 0 no error, 2 server failure, 3 name error, 4 not implemented
    bool TC = false;      // truncated (set by the decoder when a reply was incomplete)
    RecordList Section2;  // answer
    RecordList Section3;  // authority
    RecordList Section4;  // additional

    // The list of section 2, 3 or 4; nullptr ("no list") for any other number.
    RecordList* Section(int secNo);
    const RecordList* Section(int secNo) const;

    // Appends rec to section secNo unless a record equal to it (clDNSRecord::SameAs) is already in
    // that section or in an earlier one of 2, 3, 4: section 2 looks only at itself, section 3 at
    // 2 and 3, anything else means section 4 and looks at all three. A null rec is ignored.
    // Callers that want every record appended regardless append to the lists directly.
    void SectionAdd(int secNo, RecordRef rec);
};
