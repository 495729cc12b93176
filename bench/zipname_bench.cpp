// ZipName in the reply builder's hot path: encode one reply of 100 records (about 4 KB) whose
// names share suffixes, the way the reply builder builds it (owner compressed against the message so far,
// RDATA names against the message up to the record's TTL). Three encoders, same bytes:
//   Reference  the compression algorithm written literally (a full search per tail per pass)
//   Scan       modDNS::ZipName(message, name): one scan of the message per pass
//   Index      modDNS::ZipName(message, name, ZipIndex&): a look-up in an index of the message
// Prints microseconds per reply and the speed-up over the reference (CPU time; run with
// --benchmark_repetitions=5 for medians).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/modDNS.h"
#include "core/zipname_reference.h"

namespace {

struct Rec {
    int type;
    std::string owner;
    std::string data;  // in-memory form
};

std::vector<Rec> MakeRecords() {
    using modDNS::MakeShortL;
    std::vector<Rec> recs;
    const char* depts[] = {"sales", "eng", "ops", "hr"};
    const char* sites[] = {"north.example.org.", "south.example.org.", "example.org."};
    for (int i = 0; i < 100; ++i) {
        const std::string host =
            "workstation" + std::to_string(i % 37) + "." + depts[i % 4] + "." + sites[i % 3];
        switch (i % 6) {
            case 0:
            case 1:
                recs.push_back({1, host, std::string("\x0A\x01\x02", 3) + static_cast<char>(i)});
                break;
            case 2:
                recs.push_back({15, std::string(depts[i % 4]) + "." + sites[i % 3],
                                MakeShortL(10 + i) + "mail" + std::to_string(i % 5) + "." +
                                    sites[(i + 1) % 3]});
                break;
            case 3:
                recs.push_back({5, "www" + std::to_string(i) + "." + sites[i % 3], host});
                break;
            case 4:
                recs.push_back({16, host,
                                "\x1Fv=spf1 include:mail.example.org\x2Esite-verification=" +
                                    std::string(8, static_cast<char>('a' + i % 26)) +
                                    "0123456789abcdefghij"});
                break;
            default:
                recs.push_back({33, "_sip._tcp." + std::string(sites[i % 3]),
                                MakeShortL(1) + MakeShortL(5) + MakeShortL(5060) + host});
                break;
        }
    }
    return recs;
}

const std::vector<Rec>& Records() {
    static const std::vector<Rec> recs = MakeRecords();
    return recs;
}

template <typename Zip>
std::string BuildReply(Zip zip) {
    using namespace modDNS;
    const auto& recs = Records();
    std::string m;
    m.reserve(8192);
    m += MakeShortL(4242);
    m += std::string("\x85\x80", 2);
    m += MakeShortL(1) + MakeShort(static_cast<int64_t>(recs.size())) + MakeShort(0) + MakeShort(0);
    m += zip(m, "example.org.");
    m += std::string("\0\xFF\0\1", 4);
    std::string rdata;
    for (const Rec& r : recs) {
        m += zip(m, r.owner);
        AppendShortL(m, r.type);
        AppendShortL(m, 1);
        m += MakeLong(3600);
        rdata.clear();
        switch (r.type) {
            case 5:
                rdata = zip(m, r.data);
                break;
            case 15:
                rdata = r.data.substr(0, 2) + zip(m, std::string_view(r.data).substr(2));
                break;
            case 33:
                rdata = r.data.substr(0, 6) + zip(m, std::string_view(r.data).substr(6));
                break;
            default:
                rdata = r.data;
                break;
        }
        m += MakeShort(static_cast<int64_t>(rdata.size()));
        m += rdata;
    }
    return m;
}

std::string ViaReference() {
    return BuildReply(
        [](std::string_view m, std::string_view n) { return modDNS::reference::ZipName(m, n); });
}
std::string ViaScan() {
    return BuildReply([](std::string_view m, std::string_view n) { return modDNS::ZipName(m, n); });
}
std::string ViaIndex(modDNS::ZipIndex& ix) {
    return BuildReply(
        [&](std::string_view m, std::string_view n) { return modDNS::ZipName(m, n, ix); });
}

void BM_Reply_Reference(benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(ViaReference());
}
void BM_Reply_Scan(benchmark::State& st) {
    for (auto _ : st) benchmark::DoNotOptimize(ViaScan());
}
void BM_Reply_Index(benchmark::State& st) {
    modDNS::ZipIndex ix;  // one per builder, rebuilt for each new message
    for (auto _ : st) benchmark::DoNotOptimize(ViaIndex(ix));
}
BENCHMARK(BM_Reply_Reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reply_Scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reply_Index)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's CPU time per reply (the median when repetitions are asked for), so the
// run can end with the ratios; CPU time, since the machine may be shared.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> us;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string& fn = r.run_name.function_name;
            if (r.run_type == Run::RT_Iteration && !us.count(fn + "/median")) {
                us[fn] = r.GetAdjustedCPUTime();
            } else if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                us[fn] = r.GetAdjustedCPUTime();
                us[fn + "/median"] = 1;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    modDNS::ZipIndex ix;
    const std::string a = ViaReference(), b = ViaScan(), c = ViaIndex(ix);
    if (a != b || a != c) {
        std::fprintf(stderr, "encoders disagree\n");
        return 1;
    }
    std::printf("reply: %zu bytes, %zu records\n", a.size(), Records().size());

    benchmark::Initialize(&argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    const double ref = rep.us["BM_Reply_Reference"], scan = rep.us["BM_Reply_Scan"],
                 idx = rep.us["BM_Reply_Index"];
    if (ref > 0 && scan > 0 && idx > 0) {
        std::printf(
            "CPU us per reply: reference %.2f, scan %.2f, index %.2f; speed-up over the "
            "reference: scan %.1fx, index %.1fx\n",
            ref, scan, idx, ref / scan, ref / idx);
    }
    benchmark::Shutdown();
    return 0;
}
