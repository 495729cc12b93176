// The transfer client's reading of a primary's TCP stream: the same bytes cut into segments at
// places the input chooses read exactly like the whole stream, and every record kept is one the
// zone file writer writes, at or below the zone, after the zone's own SOA.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "server/authority/zonefile.h"
#include "server/replication/transfer_reader.h"

namespace {

constexpr double kNow = 46000.0;
constexpr std::string_view kZone = "example.";

bool AtOrBelow(std::string_view name) {
    if (name == kZone) return true;
    return name.size() > kZone.size() && name.substr(name.size() - kZone.size()) == kZone &&
           name[name.size() - kZone.size() - 1] == '.';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const unsigned step = data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    modReplication::clTransferReader whole;
    whole.Start(kZone, kNow);
    const auto wholeStatus = whole.Feed(stream);

    modReplication::clTransferReader cut;
    cut.Start("Example.", kNow);  // the zone's name in another case reads the same
    auto cutStatus = modReplication::clTransferReader::Status::NeedMore;
    const size_t len = step % 17 + 1;
    for (size_t at = 0; at < stream.size(); at += len) {
        cutStatus = cut.Feed(stream.substr(at, len));
        if (cutStatus != modReplication::clTransferReader::Status::NeedMore) break;
    }
    FUZZ_CHECK(cutStatus == wholeStatus);
    FUZZ_CHECK(cut.Records().size() == whole.Records().size());
    FUZZ_CHECK(cut.IsComplete() == whole.IsComplete());

    const auto& records = whole.Records();
    for (size_t i = 0; i < records.size(); ++i) {
        const clDNSRecord& r = *records[i];
        FUZZ_CHECK(r.Permanent);
        FUZZ_CHECK(AtOrBelow(r.Name));
        FUZZ_CHECK(modZoneFile::RecordWritable(kZone, r));
        FUZZ_CHECK(r.Name == cut.Records()[i]->Name && r.Data == cut.Records()[i]->Data);
        if (i == 0) FUZZ_CHECK(r.RecType == 6 && r.Name == kZone);
    }
    return 0;
}
