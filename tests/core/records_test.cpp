// Records and answers: the TTL property with a fake clock, sections and SectionAdd.
#include <gtest/gtest.h>

#include <cmath>

#include "core/clDNSAnswer.h"
#include "core/clDNSRecord.h"
#include "tests/support/fake_clock.h"

using kest::test::FakeClock;

TEST(RecordTTL, NonPermanentRunsDownAndGoesNegative) {
    FakeClock clock;
    clDNSRecord r;
    r.SetTTL(0, clock);
    EXPECT_EQ(r.TTL(clock), 0);
    clock.Advance(1);
    EXPECT_EQ(r.TTL(clock), -1);
}

TEST(RecordTTL, AnHourReadsAnHourThenHalf) {
    FakeClock clock;
    clDNSRecord r;
    r.SetTTL(3600, clock);
    EXPECT_EQ(r.mTTL, 3600);
    EXPECT_EQ(r.TTL(clock), 3600);
    clock.Advance(1800);
    EXPECT_EQ(r.TTL(clock), 1800);
    clock.Advance(1799);
    EXPECT_EQ(r.TTL(clock), 1);
}

TEST(RecordTTL, PermanentKeepsTheValueWritten) {
    FakeClock clock;
    clDNSRecord r;
    r.Permanent = true;
    r.SetTTL(86400, clock);
    EXPECT_NEAR(r.mTimeOut - clock.Now(), 2000.0, 1e-9);
    clock.Advance(10 * 86400);
    EXPECT_EQ(r.TTL(clock), 86400);
    r.SetTTL(0, clock);
    clock.Advance(5);
    EXPECT_EQ(r.TTL(clock), 0);
}

TEST(RecordTTL, OrderMattersPermanentBeforeTTL) {
    FakeClock clock;
    clDNSRecord r;
    r.SetTTL(60, clock);
    r.Permanent = true;  // too late: the time-out is already one minute ahead
    EXPECT_NEAR((r.mTimeOut - clock.Now()) * 86400, 60, 1e-3);
}

TEST(RecordTTL, RemainingSecondsRoundHalvesToEven) {
    clDNSRecord r;
    const double now = 46000.0;
    r.mTimeOut = now + 2.5 / 86400.0;
    const double exact = (r.mTimeOut - now) * 86400.0;
    // The day arithmetic is not exact; the rounding of what it gives is what is checked.
    EXPECT_EQ(r.TTL(now), static_cast<int32_t>(std::nearbyint(exact)));
    r.mTimeOut = 0.5 / 86400.0;
    EXPECT_EQ(r.TTL(0.0), 0);
    r.mTimeOut = 1.5 / 86400.0;
    EXPECT_EQ(r.TTL(0.0), 2);
    r.mTimeOut = 2.5 / 86400.0;
    EXPECT_EQ(r.TTL(0.0), 2);
    r.mTimeOut = -0.5 / 86400.0;
    EXPECT_EQ(r.TTL(0.0), 0);
    r.mTimeOut = -1.5 / 86400.0;
    EXPECT_EQ(r.TTL(0.0), -2);
}

TEST(RecordTTL, TheDayErrorIsRemovedOverAWeek) {
    FakeClock clock;
    clDNSRecord r;
    r.SetTTL(604800, clock);
    for (int s = 0; s <= 604800 + 10; s += 997) {
        EXPECT_EQ(r.TTL(clock), 604800 - s);
        clock.Advance(997);
    }
}

TEST(RecordTTL, MakeRecordSetsPermanentFirst) {
    FakeClock clock;
    RecordRef r = MakeRecord("a.org.", 1, "\1\2\3\4", 0, clock.Now(), true);
    clock.Advance(100);
    EXPECT_EQ(r->TTL(clock), 0);
    EXPECT_GT(r->mTimeOut, clock.Now() + 1999);
}

namespace {
RecordRef Rec(const std::string& name, int type, const std::string& data) {
    auto r = std::make_shared<clDNSRecord>();
    r->Name = name;
    r->RecType = type;
    r->Data = data;
    return r;
}
}  // namespace

TEST(Answer, FreshAnswerIsEmpty) {
    clDNSAnswer a;
    EXPECT_EQ(a.RqName, "");
    EXPECT_EQ(a.RqType, 0);
    EXPECT_EQ(a.Id, 0);
    EXPECT_FALSE(a.RA || a.AA || a.TC);
    EXPECT_EQ(a.RCode, 0);
    for (int n = 2; n <= 4; ++n) {
        ASSERT_NE(a.Section(n), nullptr);
        EXPECT_TRUE(a.Section(n)->empty());
    }
    EXPECT_EQ(a.Section(1), nullptr);
    EXPECT_EQ(a.Section(5), nullptr);
    EXPECT_EQ(a.Section(0), nullptr);
    const clDNSAnswer& c = a;
    EXPECT_EQ(c.Section(3), &a.Section3);
}

TEST(Answer, SectionAddSameObjectTwiceKeepsOne) {
    clDNSAnswer a;
    auto r = Rec("ns.org.", 1, "\1\2\3\4");
    a.SectionAdd(4, r);
    a.SectionAdd(4, r);
    EXPECT_EQ(a.Section4.size(), 1u);
}

TEST(Answer, SectionAddLooksAtEarlierSections) {
    clDNSAnswer a;
    a.SectionAdd(2, Rec("ns.org.", 1, "\1\2\3\4"));
    a.SectionAdd(4, Rec("ns.org.", 1, "\1\2\3\4"));  // equal to one in section 2
    a.SectionAdd(3, Rec("ns.org.", 1, "\1\2\3\4"));
    EXPECT_EQ(a.Section3.size(), 0u);
    EXPECT_EQ(a.Section4.size(), 0u);
    a.SectionAdd(3, Rec("org.", 2, "ns.org."));
    a.SectionAdd(4, Rec("org.", 2, "ns.org."));  // in section 3
    EXPECT_EQ(a.Section4.size(), 0u);
    // For section 2 only section 2 is looked at.
    a.SectionAdd(2, Rec("org.", 2, "ns.org."));
    EXPECT_EQ(a.Section2.size(), 2u);
    EXPECT_EQ(a.Section3.size(), 1u);
    // Any other number means section 4.
    a.SectionAdd(7, Rec("x.org.", 1, "\1\1\1\1"));
    a.SectionAdd(1, Rec("y.org.", 1, "\1\1\1\1"));
    EXPECT_EQ(a.Section4.size(), 2u);
    a.SectionAdd(4, nullptr);
    EXPECT_EQ(a.Section4.size(), 2u);
}

TEST(Answer, EqualityIsNameDataAndTypeByteForByte) {
    clDNSAnswer a;
    a.SectionAdd(2, Rec("a.org.", 2, "x.org."));
    a.SectionAdd(2, Rec("a.org.", 5, "x.org."));  // other type: kept
    a.SectionAdd(2, Rec("A.org.", 2, "x.org."));  // case differs: kept
    a.SectionAdd(2, Rec("a.org.", 2, "X.org."));
    a.SectionAdd(2, Rec("a.org.", 2, "x.org."));  // equal: not kept
    EXPECT_EQ(a.Section2.size(), 4u);
}

TEST(Answer, SectionsShareTheRecordObjects) {
    // What the store holds and what the answer holds is the same object: RoRo survives.
    std::vector<RecordRef> store = {Rec("www.org.", 1, "\1\1\1\1"), Rec("www.org.", 1, "\2\2\2\2")};
    {
        clDNSAnswer reply;
        for (auto& r : store) reply.SectionAdd(2, r);
        reply.Section2[0]->RoRo = 1;
    }
    EXPECT_EQ(store[0]->RoRo, 1);
    clDNSAnswer next;
    next.SectionAdd(2, store[0]);
    EXPECT_EQ(next.Section(2)->at(0).get(), store[0].get());
    // The lists can be replaced as a whole.
    next.Section3 = RecordList{store[1]};
    EXPECT_EQ(next.Section(3)->size(), 1u);
}
