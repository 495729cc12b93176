#include "server/authority/clZone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

RecordRef Rec(const std::string& name, const std::string& tag) {
    auto r = std::make_shared<clDNSRecord>();
    r->Name = name;
    r->RecType = 1;
    r->Data = tag;
    r->Permanent = true;
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
    z.AddRec(Rec("b.", "b2"));  // equal to the first: goes to the front
    z.AddRec(Rec("c.", "c1"));
    z.AddRec(Rec("c.", "c2"));  // equal to the last: appended
    z.AddRec(Rec("a.", "a1"));
    z.AddRec(Rec("b.", "b3"));  // in the middle: before the first "b."
    z.AddRec(Rec("bb.", "bb1"));
    EXPECT_EQ(Tags(z), "a1 b3 b2 b1 bb1 c1 c2 ");
    z.AddRec(nullptr);
    EXPECT_EQ(z.Records.size(), 7u);
}

TEST(ZoneRecords, OrderIsBytewiseWithoutCaseFolding) {
    clZone z;
    for (const char* n : {"b.", "B.", "a.", "\xe9.", "_.", "*."}) z.AddRec(Rec(n, n));
    EXPECT_EQ(Tags(z), "*. B. _. a. b. \xe9. ");
    EXPECT_EQ(z.FindRec("\xe9."), 6);
    EXPECT_EQ(z.FindRec("B."), 2);
}

TEST(ZoneRecords, FindRecReturnsFirstOfItsNameOrZero) {
    clZone z;
    EXPECT_EQ(z.FindRec("a."), 0);
    for (const char* n : {"m.", "m.", "m.", "d.", "x.", "x."}) z.AddRec(Rec(n, n));
    // d. m. m. m. x. x.
    EXPECT_EQ(z.FindRec("d."), 1);
    EXPECT_EQ(z.FindRec("m."), 2);
    EXPECT_EQ(z.FindRec("x."), 5);
    EXPECT_EQ(z.FindRec("a."), 0);  // before the first
    EXPECT_EQ(z.FindRec("z."), 0);  // after the last
    EXPECT_EQ(z.FindRec("n."), 0);  // between
    EXPECT_EQ(z.FindRec("m"), 0);   // a prefix is not the name
    EXPECT_EQ(z.RecordsNamed("m.").size(), 3u);
    EXPECT_TRUE(z.RecordsNamed("q.").empty());
}

TEST(ZoneRecords, RandomInsertsStaySortedAndFindAgreesWithLinearSearch) {
    std::mt19937 rng(7);
    const std::vector<std::string> names = {"a.", "b.",  "ba.", "c.example.", "*.example.",
                                            "x.", "xy.", "y.",  "example.",   "z.z."};
    for (int round = 0; round < 50; ++round) {
        clZone z;
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) z.AddRec(Rec(names[rng() % names.size()], std::to_string(i)));
        ASSERT_TRUE(std::is_sorted(
            z.Records.begin(), z.Records.end(),
            [](const RecordRef& l, const RecordRef& r) { return l->Name < r->Name; }));
        for (const auto& name : names) {
            int linear = 0;
            for (size_t i = 0; i < z.Records.size(); ++i)
                if (z.Records[i]->Name == name) {
                    linear = static_cast<int>(i) + 1;
                    break;
                }
            EXPECT_EQ(z.FindRec(name), linear) << name;
        }
    }
}

TEST(ZoneSearch, InsertIndexOnPlainKeys) {
    const std::vector<std::string> keys = {"b", "d", "d", "f"};
    const auto key = [&](int i) { return std::string_view(keys[i - 1]); };
    EXPECT_EQ(modAuth::InsertIndex(0, "a", key), 0);
    EXPECT_EQ(modAuth::InsertIndex(4, "a", key), 0);
    EXPECT_EQ(modAuth::InsertIndex(4, "b", key), 0);
    EXPECT_EQ(modAuth::InsertIndex(4, "c", key), 1);
    EXPECT_EQ(modAuth::InsertIndex(4, "d", key), 1);
    EXPECT_EQ(modAuth::InsertIndex(4, "e", key), 3);
    EXPECT_EQ(modAuth::InsertIndex(4, "f", key), 4);
    EXPECT_EQ(modAuth::InsertIndex(4, "g", key), 4);
    EXPECT_EQ(modAuth::BinaryFind(4, "d", key), 2);
    EXPECT_EQ(modAuth::BinaryFind(4, "e", key), 0);
}

}  // namespace
