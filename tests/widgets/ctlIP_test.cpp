#include "widgets/ctlIP.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "tests/widgets/gui_env.h"

namespace {

class CtlIPTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ip = new ctlIP;
        host = std::make_unique<kest::test::Host>(ip);
        ASSERT_TRUE(host->Open());
        ip->Field(0)->setFocus();
    }
    QString Shown(int i) const { return ip->Field(i)->text(); }
    QWidget* Focused() const { return QApplication::focusWidget(); }

    ctlIP* ip = nullptr;
    std::unique_ptr<kest::test::Host> host;
};

TEST_F(CtlIPTest, TypingAnAddressDotsMoveAlongTheFields) {
    kest::test::TypeKeys("192.168.1.5");
    EXPECT_EQ(Shown(0), "192");
    EXPECT_EQ(Shown(1), "168");
    EXPECT_EQ(Shown(2), "1");
    EXPECT_EQ(Shown(3), "5");
    EXPECT_EQ(Focused(), ip->Field(3));
    EXPECT_EQ(ip->Text(), "192.168.1.5");

    // A dot in the last field goes nowhere and is not kept; letters are swallowed everywhere.
    kest::test::TypeKeys(".x");
    EXPECT_EQ(Shown(3), "5");
    EXPECT_EQ(Focused(), ip->Field(3));
    ip->Field(1)->setFocus();
    kest::test::TypeKeys("1a-2");
    EXPECT_EQ(Shown(1), "12");
}

TEST_F(CtlIPTest, LeavingAFieldClampsItAndLeavingTheControlCleansTheAddress) {
    kest::test::TypeKeys("300");
    QTest::keyClick(Focused(), Qt::Key_Tab);
    EXPECT_EQ(Shown(0), "255");
    EXPECT_EQ(Focused(), ip->Field(1));
    // An empty field inside the control shows 0 once left.
    QTest::keyClick(Focused(), Qt::Key_Tab);
    EXPECT_EQ(Shown(1), "0");

    // Leaving the whole control with nothing but zeros empties every field.
    ip->SetText("");
    ip->Field(2)->setFocus();
    kest::test::TypeKeys("0");
    host->other->setFocus();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Shown(i), "") << i;
    EXPECT_EQ(ip->Text(), "");

    // Leaving it with an address writes back the cleaned bytes.
    ip->Field(3)->setFocus();
    kest::test::TypeKeys("007");
    host->other->setFocus();
    EXPECT_EQ(Shown(0), "0");
    EXPECT_EQ(Shown(3), "7");
    EXPECT_EQ(ip->Text(), "0.0.0.7");
}

TEST_F(CtlIPTest, BackspaceAndArrowsCrossFieldsOnlyAtTheirEdges) {
    ip->SetText("10.20.30.40");
    ip->Field(2)->setFocus();
    ip->Field(2)->setCursorPosition(1);
    QTest::keyClick(Focused(), Qt::Key_Left);  // caret 1 -> 0, stays
    EXPECT_EQ(Focused(), ip->Field(2));
    QTest::keyClick(Focused(), Qt::Key_Left);
    EXPECT_EQ(Focused(), ip->Field(1));

    ip->Field(1)->deselect();
    ip->Field(1)->setCursorPosition(2);
    QTest::keyClick(Focused(), Qt::Key_Right);
    EXPECT_EQ(Focused(), ip->Field(2));
    ip->Field(2)->deselect();
    ip->Field(2)->setCursorPosition(0);
    QTest::keyClick(Focused(), Qt::Key_Backspace);
    EXPECT_EQ(Focused(), ip->Field(1));
    EXPECT_EQ(Shown(2), "30");  // swallowed, nothing deleted
    // With text selected Backspace deletes it and stays.
    ip->Field(1)->selectAll();
    QTest::keyClick(Focused(), Qt::Key_Backspace);
    EXPECT_EQ(Focused(), ip->Field(1));
    EXPECT_EQ(Shown(1), "");
    // The first field has no field before it: Backspace at its start is an ordinary key.
    ip->Field(0)->setFocus();
    ip->Field(0)->deselect();
    ip->Field(0)->setCursorPosition(0);
    QTest::keyClick(Focused(), Qt::Key_Left);
    QTest::keyClick(Focused(), Qt::Key_Backspace);
    EXPECT_EQ(Focused(), ip->Field(0));
    EXPECT_EQ(Shown(0), "10");
}

TEST_F(CtlIPTest, SettingTextCleansIt) {
    ip->SetText("10.1.300.4");  // a part above 255 becomes 0
    EXPECT_EQ(ip->Text(), "10.1.0.4");
    EXPECT_EQ(Shown(2), "0");
    for (const char* zero : {"0.0.0.0", "", "0", "x.y"}) {
        ip->SetText("1.2.3.4");
        ip->SetText(zero);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(Shown(i), "") << zero;
        EXPECT_EQ(ip->Text(), "") << zero;
    }
    ip->SetText("7");
    EXPECT_EQ(ip->Text(), "7.0.0.0");
}

TEST_F(CtlIPTest, NormalizeIsWhatLeavingDoesAndRunsTwiceToTheSameResult) {
    QSignalSpy changed(ip, &ctlIP::Changed);
    kest::test::TypeKeys("1.300");
    EXPECT_GE(changed.count(), 1);
    // Still inside the field typed last: nothing normalised it yet.
    EXPECT_EQ(Shown(1), "300");
    ip->Normalize();
    EXPECT_EQ(Shown(1), "255");
    EXPECT_EQ(Shown(2), "0");
    EXPECT_EQ(ip->Text(), "1.255.0.0");
    changed.clear();
    ip->Normalize();
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(ip->Text(), "1.255.0.0");
}

TEST_F(CtlIPTest, LockedFieldsTakeNoTypingAndLeaveTheTabOrder) {
    ip->SetText("1.2.3.4");
    ip->SetLocked(true);
    EXPECT_TRUE(ip->Locked());
    ip->Field(0)->setFocus();
    kest::test::TypeKeys("9");
    EXPECT_EQ(ip->Text(), "1.2.3.4");
    EXPECT_EQ(ip->Field(0)->palette().color(QPalette::Base),
              QApplication::palette(ip).color(QPalette::Button));
    EXPECT_EQ(ip->Field(1)->focusPolicy() & Qt::TabFocus, 0);
    ip->SetLocked(false);
    EXPECT_FALSE(ip->Field(0)->isReadOnly());
    EXPECT_EQ(ip->Field(0)->palette().color(QPalette::Base),
              QApplication::palette(ip).color(QPalette::Base));
}

}  // namespace
