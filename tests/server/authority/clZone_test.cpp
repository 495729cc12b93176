#include "server/authority/clZone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

RecordRef Rec(const std::string& name, const std::string& tag) {
    auto r = std::make_shared<clDNSRecord>();
    r->Name = name;
    r->Data = tag;
    return r;
}

std::string Tags(const clZone& z) {
    std::string out;
    for (const auto& r : z.Records) out += r->Data + " ";
    return out;
}

TEST(ZoneRecords, PlacementRuleKeepsNamesTogetherButNotFileOrder) {
    clZone z;
    z.AddRec(Rec("b.", "b1"));
    z.AddRec(Rec("b.", "b2"));  // equal to the first: to the front
    z.AddRec(Rec("c.", "c1"));
    z.AddRec(Rec("c.", "c2"));  // equal to the last: appended
    z.AddRec(Rec("a.", "a1"));
    z.AddRec(Rec("b.", "b3"));  // inside: before the first "b."
    z.AddRec(Rec("bb.", "bb1"));
    z.AddRec(nullptr);
    EXPECT_EQ(Tags(z), "a1 b3 b2 b1 bb1 c1 c2 ");

    // Bytewise, no case folding, bytes above 127 last.
    clZone o;
    for (const char* n : {"b.", "B.", "a.", "\xe9.", "_.", "*."}) o.AddRec(Rec(n, n));
    EXPECT_EQ(Tags(o), "*. B. _. a. b. \xe9. ");
    EXPECT_EQ(o.FindRec("\xe9."), 6);
    EXPECT_EQ(o.FindRec("B."), 2);
    EXPECT_EQ(o.FindRec("B"), 0);
}

TEST(ZoneRecords, RandomInsertsStaySortedAndFindRecGivesTheFirstOfAName) {
    std::mt19937 rng(7);
    const std::vector<std::string> names = {"a.", "b.",  "ba.", "c.example.", "*.example.",
                                            "x.", "xy.", "y.",  "example.",   "z.z."};
    for (int round = 0; round < 60; ++round) {
        clZone z;
        EXPECT_EQ(z.FindRec("a."), 0);
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) z.AddRec(Rec(names[rng() % names.size()], std::to_string(i)));
        ASSERT_TRUE(std::is_sorted(
            z.Records.begin(), z.Records.end(),
            [](const RecordRef& l, const RecordRef& r) { return l->Name < r->Name; }));
        for (const auto& name : names) {
            const auto it = std::find_if(z.Records.begin(), z.Records.end(),
                                         [&](const RecordRef& r) { return r->Name == name; });
            const int linear =
                it == z.Records.end() ? 0 : static_cast<int>(it - z.Records.begin()) + 1;
            ASSERT_EQ(z.FindRec(name), linear) << name;
            ASSERT_EQ(z.RecordsNamed(name).size(),
                      static_cast<size_t>(
                          std::count_if(z.Records.begin(), z.Records.end(),
                                        [&](const RecordRef& r) { return r->Name == name; })));
        }
    }
}

}  // namespace
