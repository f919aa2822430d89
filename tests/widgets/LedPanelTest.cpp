#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "LedPanel.h"

namespace {

QColor Shown(const TLedPanel& led) { return led.palette().color(QPalette::Window); }

struct LedPanelTest : ::testing::Test {
  TLedPanel led;
  LedPanelTest() {
    led.SetColorOn(clLime);
    led.SetColorOff(clMaroon);
    led.SetColorDisabled(clOlive);
  }
};

}  // namespace

TEST(LedColor, WindowsValuesAreBlueGreenRed) {
  // 0x00BBGGRR: a swapped byte order would show red as blue.
  EXPECT_EQ(ToQColor(clRed, QPalette()), QColor(255, 0, 0));
  EXPECT_EQ(ToQColor(clMaroon, QPalette()), QColor(128, 0, 0));
  EXPECT_EQ(ToQColor(clAqua, QPalette()), QColor(0, 255, 255));
  EXPECT_FALSE(ToQColor(clKeep, QPalette()).isValid());
}

TEST(LedColor, ButtonFaceFollowsThePalette) {
  QPalette palette;
  palette.setColor(QPalette::Button, QColor(1, 2, 3));
  EXPECT_EQ(ToQColor(clBtnFace, palette), QColor(1, 2, 3));
  TLedPanel fresh;
  EXPECT_EQ(Shown(fresh), QApplication::palette(&fresh).color(QPalette::Button));
  EXPECT_EQ(fresh.LedType(), ltOff);
}

TEST_F(LedPanelTest, TriggersKeepTheLampLitUntilOneIntervalAfterTheLast) {
  led.Trigger();
  led.Trigger();
  led.TriggerColor(clRed);
  EXPECT_TRUE(led.Lit());
  EXPECT_TRUE(led.IsTimerRunning());
  EXPECT_EQ(Shown(led), QColor(255, 0, 0));
  EXPECT_EQ(led.LedType(), ltTrigger);

  led.LedTimerTick();
  EXPECT_EQ(led.LedType(), ltOff);
  EXPECT_FALSE(led.IsTimerRunning());
  EXPECT_EQ(Shown(led), QColor(128, 0, 0));
}

TEST_F(LedPanelTest, TriggerFallsBackByItsOwnTimer) {
  led.SetInterval(20);
  led.Trigger();
  // The real timer, not a stepped tick: the lamp must go dark by itself.
  EXPECT_TRUE(QTest::qWaitFor([&] { return led.LedType() == ltOff; }, 2000));
  EXPECT_EQ(Shown(led), QColor(128, 0, 0));
}

TEST_F(LedPanelTest, StartBlinkWithKeepColoursBlinksLitFirst) {
  led.StartBlink(clKeep, clKeep);
  EXPECT_EQ(led.ColorOn(), clLime);
  EXPECT_EQ(led.ColorOff(), clMaroon);
  EXPECT_TRUE(led.Blinking());
  EXPECT_EQ(Shown(led), QColor(0, 255, 0));
  led.LedTimerTick();
  EXPECT_EQ(Shown(led), QColor(128, 0, 0));
  EXPECT_TRUE(led.IsTimerRunning());
  led.LedTimerTick();
  EXPECT_EQ(Shown(led), QColor(0, 255, 0));
}

TEST_F(LedPanelTest, DisabledBlinkingLampShowsDisabledColourAndResumesLit) {
  led.StartBlink(clKeep, clKeep);
  led.LedTimerTick();  // unlit phase
  led.SetEnabled(false);
  EXPECT_EQ(Shown(led), QColor(128, 128, 0));
  EXPECT_FALSE(led.IsTimerRunning());
  EXPECT_FALSE(led.isEnabled());

  led.SetEnabled(true);
  EXPECT_EQ(Shown(led), QColor(0, 255, 0));
  EXPECT_TRUE(led.IsTimerRunning());
}

TEST_F(LedPanelTest, QtEnabledStateKeepsTheLampFlagInStep) {
  led.SwitchOn();
  led.setEnabled(false);
  EXPECT_FALSE(led.Enabled());
  EXPECT_EQ(Shown(led), QColor(128, 128, 0));
  led.setEnabled(true);
  EXPECT_EQ(Shown(led), QColor(0, 255, 0));
}

// Regression: the flag followed the parent, so a lamp made on (or moved with)
// a disabled page showed ColorDisabled and would not blink.
TEST(LedPanelEnabled, IsTheLampsOwnFlagNotItsParents) {
  QWidget page;
  page.setEnabled(false);
  TLedPanel led(&page);
  led.SetColorOn(clLime);
  led.SetColorDisabled(clOlive);
  EXPECT_TRUE(led.Enabled());
  led.StartBlink();
  EXPECT_TRUE(led.IsTimerRunning());

  page.setEnabled(true);
  page.setEnabled(false);
  EXPECT_TRUE(led.Enabled());
  EXPECT_EQ(Shown(led), QColor(0, 255, 0));

  led.SetEnabled(false);
  page.setEnabled(true);
  EXPECT_FALSE(led.Enabled());
  EXPECT_EQ(Shown(led), QColor(128, 128, 0));
}

TEST_F(LedPanelTest, AutoTriggerOnlyBetweenTwoNonEmptyCaptions) {
  led.SetAutoTrigger(true);
  led.SetCaption("first");
  EXPECT_EQ(led.LedType(), ltOff);
  led.SetCaption("first");
  EXPECT_EQ(led.LedType(), ltOff);
  led.SetCaption("second");
  EXPECT_EQ(led.LedType(), ltTrigger);
  led.LedTimerTick();
  led.SetCaption("");
  EXPECT_EQ(led.LedType(), ltOff);
}

TEST_F(LedPanelTest, ColourChangeShowsOnlyInThePhaseItBelongsTo) {
  led.SwitchOn();
  led.SetColorOn(clRed);
  EXPECT_EQ(Shown(led), QColor(255, 0, 0));
  led.SwitchOff();
  led.SetColorOn(clAqua);
  EXPECT_EQ(Shown(led), QColor(128, 0, 0));
}

TEST_F(LedPanelTest, SwitchOnKeepOrNewColour) {
  led.SwitchOn(clKeep);
  EXPECT_EQ(Shown(led), QColor(0, 255, 0));
  led.SwitchOn(clRed);
  EXPECT_EQ(led.ColorOn(), clRed);
  EXPECT_EQ(Shown(led), QColor(255, 0, 0));
  EXPECT_FALSE(led.IsTimerRunning());
}

TEST_F(LedPanelTest, AutoToggleClickSwitchesBeforeTheClickHandlerRuns) {
  led.resize(40, 20);
  led.show();
  led.SetAutoToggle(true);
  std::vector<TLedType> seen;
  QObject::connect(&led, &TPanel::clicked, [&] { seen.push_back(led.LedType()); });
  QTest::mouseClick(&led, Qt::LeftButton);
  QTest::mouseClick(&led, Qt::LeftButton);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], ltOn);
  EXPECT_EQ(seen[1], ltOff);

  led.SetEnabled(false);
  QTest::mouseClick(&led, Qt::LeftButton);
  EXPECT_EQ(seen.size(), 2u);  // a disabled lamp gets no click at all
}

TEST(Panel, DoubleClickAndCaptionBytes) {
  TPanel panel;
  panel.resize(40, 20);
  panel.show();
  QSignalSpy doubles(&panel, &TPanel::doubleClicked);
  QTest::mouseDClick(&panel, Qt::LeftButton);
  EXPECT_EQ(doubles.count(), 1);
  panel.SetCaption("a<b>c</b>");
  EXPECT_EQ(panel.text(), QString("a<b>c</b>"));
  EXPECT_EQ(panel.Caption(), "a<b>c</b>");
}
