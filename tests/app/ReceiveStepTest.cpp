// The receive step and the dispatch, fed bytes directly (no port).
#include <gtest/gtest.h>

#include "FOvMonitor.h"
#include "WindowFixture.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {
struct ReceiveStepTest : WindowFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};
}  // namespace

TEST_F(ReceiveStepTest, BlankAndLoneLineFeedLinesReachNoParser) {
  window->ReceiveBytes("   \r\n\r\r\n \n \r");
  EXPECT_EQ(ui.lOK->LedType(), ltOff);
  EXPECT_EQ(window->PendingReceived(), "");
}

TEST_F(ReceiveStepTest, TrimKeepsTabsAndStripsOnlyCrLfBlank) {
  // A tab is not stripped, so the keyword is ":io\t..." and nothing matches.
  window->ReceiveBytes("\t:io 1 2 1\r");
  EXPECT_EQ(ui.vVIN->Caption(), "");
  window->ReceiveBytes("\n  :io 1 2 1  \n\r");
  EXPECT_EQ(ui.vVIN->Caption(), "1");
}

TEST_F(ReceiveStepTest, UpperCaseAndUnknownKeywordsAreIgnored) {
  window->ReceiveBytes(":CELL 1 1 1 1\r:boot QEL1,1.0\rOKAY\r");
  EXPECT_EQ(ui.vNetwork->Caption(), "");
  EXPECT_EQ(ui.lOK->LedType(), ltOff);
}

TEST_F(ReceiveStepTest, ArgumentKeepsItsInnerBlanks) {
  window->ReceiveBytes(":get 5640 My  Net\r");
  EXPECT_EQ(ui.eWiFi_SSID->text(), "My  Net");
}

// Regression: without a bound, bytes that never see a CR grew the buffer
// without end. They are now dropped as one over-long line, tail included.
TEST_F(ReceiveStepTest, OverLongLineIsDroppedWholeAndTheNextLineIsHandled) {
  const std::string noise(TFOvMonitor::kMaxLineLength - 10, 'x');
  window->ReceiveBytes(noise);
  EXPECT_EQ(window->PendingReceived().size(), noise.size());
  window->ReceiveBytes(std::string(20, 'y'));  // reaches the bound
  EXPECT_EQ(window->PendingReceived(), "");
  window->ReceiveBytes(std::string(100000, 'z'));
  EXPECT_EQ(window->PendingReceived(), "");
  // The tail before the CR still belongs to the dropped line.
  window->ReceiveBytes(" :io 9 9 1\r:io 1 2 0\r");
  EXPECT_EQ(ui.vVIN->Caption(), "1");
  EXPECT_EQ(ui.vIgnition->Caption(), "OFF");
}

TEST_F(ReceiveStepTest, OverLongLineArrivingWithItsCrIsDroppedToo) {
  window->ReceiveBytes(":io " + std::string(TFOvMonitor::kMaxLineLength, '7') + " 1 1\r:io 5 6 1\r");
  EXPECT_EQ(ui.vVIN->Caption(), "5");
}
