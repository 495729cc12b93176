#include "widgets/ctlTTL.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "tests/widgets/gui_env.h"

namespace {

class CtlTTLTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ttl = new ctlTTL;
        host = std::make_unique<kest::test::Host>(ttl);
        ASSERT_TRUE(host->Open());
    }
    // Days, hours and minutes as shown.
    std::string Shown() const {
        return (ttl->Field(0)->text() + " " + ttl->Field(1)->text() + " " + ttl->Field(2)->text())
            .toStdString();
    }
    QWidget* Focused() const { return QApplication::focusWidget(); }

    ctlTTL* ttl = nullptr;
    std::unique_ptr<kest::test::Host> host;
};

TEST_F(CtlTTLTest, ShowsWholeMinutesButReturnsWhatItWasGivenUntilTheUserChangesIt) {
    ttl->SetSeconds(3600);
    EXPECT_EQ(Shown(), "0 1 0");
    EXPECT_EQ(ttl->Seconds(), 3600);

    ttl->SetSeconds(90061);
    EXPECT_EQ(Shown(), "1 1 1");
    EXPECT_EQ(ttl->Spin(0)->value(), -1);
    EXPECT_EQ(ttl->Spin(2)->value(), -1);
    ttl->Normalize();  // what "O K" does first
    EXPECT_EQ(ttl->Seconds(), 90061);
    // Once the user types, the fields are the value: the seconds below a minute are gone.
    ttl->Field(2)->setFocus();
    kest::test::TypeKeys("1");
    EXPECT_EQ(ttl->Seconds(), 90060);

    // Two weeks is kept as given; shown capped at 9 days 23 hours 59 minutes.
    ttl->SetSeconds(1209600);
    EXPECT_EQ(Shown(), "9 23 59");
    EXPECT_EQ(ttl->Seconds(), 1209600);
    ttl->SetSeconds(864000);
    EXPECT_EQ(Shown(), "9 23 59");
    // Moving a spin bar is a change too, and the cap applies from then on.
    ttl->Spin(0)->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // down: 8 days
    EXPECT_EQ(Shown(), "8 23 59");
    EXPECT_EQ(ttl->Seconds(), 8 * 86400 + 23 * 3600 + 59 * 60);
    ttl->Spin(0)->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(ttl->Seconds(), 863940);
}

TEST_F(CtlTTLTest, AFieldPastItsRangeTakesBackTheLastValidNumber) {
    ttl->SetSeconds(5 * 3600);
    ttl->Field(1)->setFocus();  // selects "5", so typing replaces it
    kest::test::TypeKeys("3");
    EXPECT_EQ(ttl->Spin(1)->value(), -3);
    kest::test::TypeKeys("0");  // 30 hours: the bar keeps 3
    EXPECT_EQ(ttl->Field(1)->text(), "30");
    EXPECT_EQ(ttl->Spin(1)->value(), -3);
    QTest::keyClick(Focused(), Qt::Key_Tab);
    EXPECT_EQ(ttl->Field(1)->text(), "3");
    EXPECT_EQ(ttl->Seconds(), 3 * 3600);

    // Signs and fractions are dropped on leaving; empty reads as 0.
    ttl->Field(2)->setText("-7.9");
    ttl->Field(0)->setText("");
    ttl->Normalize();
    EXPECT_EQ(Shown(), "0 3 7");
    ttl->Normalize();
    EXPECT_EQ(Shown(), "0 3 7");
}

TEST_F(CtlTTLTest, KeysCaptionsAndSpinBarsLeadIntoTheFields) {
    QSignalSpy changed(ttl, &ctlTTL::Changed);
    ttl->SetSeconds(0);
    changed.clear();
    ttl->Field(1)->setFocus();
    QTest::keyClick(Focused(), Qt::Key_Up);
    QTest::keyClick(Focused(), Qt::Key_Up);
    EXPECT_EQ(ttl->Field(1)->text(), "2");
    QTest::keyClick(Focused(), Qt::Key_Down);
    EXPECT_EQ(ttl->Field(1)->text(), "1");
    EXPECT_EQ(ttl->Seconds(), 3600);
    EXPECT_GE(changed.count(), 3);
    // At the top of its range the bar stays where it is.
    ttl->Field(2)->setText("59");
    ttl->Field(2)->setFocus();
    QTest::keyClick(Focused(), Qt::Key_Up);
    EXPECT_EQ(ttl->Field(2)->text(), "59");

    QTest::mouseClick(ttl->Caption(0), Qt::LeftButton);
    EXPECT_EQ(Focused(), ttl->Field(0));
    QTest::mouseClick(ttl->Spin(1), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(Focused(), ttl->Field(1));
    // Typing replaces the selected text: entering a field selects it.
    host->other->setFocus();
    ttl->Field(2)->setFocus();
    EXPECT_EQ(ttl->Field(2)->selectedText(), "59");
}

TEST_F(CtlTTLTest, LockedFieldsAreReadOnlyAndTheBarsDisabled) {
    ttl->SetSeconds(7200);
    ttl->SetLocked(true);
    ttl->Field(1)->setFocus();
    kest::test::TypeKeys("5");
    QTest::keyClick(Focused(), Qt::Key_Up);
    EXPECT_EQ(ttl->Seconds(), 7200);
    EXPECT_EQ(ttl->Field(1)->text(), "2");
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(ttl->Spin(i)->isEnabled());
    EXPECT_EQ(ttl->Field(0)->palette().color(QPalette::Base),
              QApplication::palette(ttl).color(QPalette::Button));
    ttl->SetLocked(false);
    EXPECT_TRUE(ttl->Spin(0)->isEnabled());
    EXPECT_FALSE(ttl->Field(0)->isReadOnly());

    ttl->SetWhatsThisHelpIDD(42);
    EXPECT_EQ(ttl->WhatsThisHelpIDD(), 42);
}

}  // namespace
