// The receive step and the dispatch, fed bytes directly (no port).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "FOvMonitor.h"
#include "WindowFixture.h"
#include "support/Trace.h"
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

// However the bytes are split into events, the same lines come out, in order,
// and the unterminated tail waits in the buffer (the trace shows each line).
TEST_F(ReceiveStepTest, LinesDoNotDependOnHowTheBytesAreSplit) {
  const std::string stream = "OK info\r\n:cell 0 0 0 0\r\r\n  \r:io 1 2 1\n\r:get 97 a b\r:wifi 1";
  const std::vector<std::string> expected = {"< OK info", "< :cell 0 0 0 0", "< :io 1 2 1", "< :get 97 a b"};
  const std::string path = testing::TempDir() + "receive-split.trace";
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, stream.size()}) {
    SCOPED_TRACE(chunk);
    std::remove(path.c_str());
    ASSERT_TRUE(Trace::Open(path));
    TFOvMonitor fresh;
    for (std::size_t at = 0; at < stream.size(); at += chunk) fresh.ReceiveBytes(stream.substr(at, chunk));
    Trace::Close();
    std::vector<std::string> traced;
    std::ifstream file(path);
    // After the stamp; the windows' own version check may be traced meanwhile.
    for (std::string line; std::getline(file, line);)
      if (line.compare(24, 2, "< ") == 0) traced.push_back(line.substr(24));
    EXPECT_EQ(traced, expected);
    EXPECT_EQ(fresh.PendingReceived(), ":wifi 1");
  }
  std::remove(path.c_str());
}
