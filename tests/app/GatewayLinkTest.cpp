// The gateway dialogue over a real pseudo-terminal: what goes out, in which
// order, and how acknowledgements move the queue. Timers are read and their
// handlers called instead of waiting out a retransmission.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "FOvMonitor.h"
#include "WindowFixture.h"
#include "serial/AfComPort.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

const std::vector<std::string> kRefresh = {"%info",        "%show_off",   "%show_cell 1",  "%show_state 1",
                                           "%show_io 5",   "%par_get 97", "%par_get 5640", "%par_get 5641"};

std::vector<std::string> Queue(const TFOvMonitor& window) {
  return {window.PendingCommands().begin(), window.PendingCommands().end()};
}

}  // namespace

TEST_F(LinkFixture, OpenSendsTheRefreshCommandsEachAfterThePreviousAcknowledgement) {
  OpenCom1();
  EXPECT_TRUE(window->Form().bClose->isEnabled());
  for (std::size_t i = 0; i < kRefresh.size(); ++i) {
    ASSERT_EQ(gateway.NextLine(), kRefresh[i] + "\r") << i;
    EXPECT_EQ(window->PendingCommands().size(), kRefresh.size() - i);
    EXPECT_EQ(window->tCommands.interval(), 1000);
    EXPECT_TRUE(window->tKeepAlive.isActive());
    // The acknowledgement names the command without "%" (here its first word).
    const std::string word = kRefresh[i].substr(1, kRefresh[i].find(' ') - 1);
    Acknowledge("OK " + word);
    EXPECT_EQ(window->PendingCommands().size(), kRefresh.size() - i - 1);
    EXPECT_EQ(window->tCommands.interval(), 100);
    EXPECT_TRUE(window->tCommands.isActive());
  }
  // The last tick finds the queue empty and leaves the timer idle.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->tCommands.isActive(); }, 2000));
  EXPECT_FALSE(window->tCommands.isActive());
  EXPECT_EQ(gateway.Drain(), "");
}

TEST_F(LinkFixture, WithheldAcknowledgementRepeatsTheHeadAndHoldsTheRest) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  for (int repeat = 0; repeat < 2; ++repeat) {
    EXPECT_EQ(window->tCommands.interval(), 1000);
    EXPECT_TRUE(window->tCommands.isActive());
    window->tCommandsTimer();
    EXPECT_EQ(gateway.NextLine(), "%info\r");
    EXPECT_EQ(Queue(*window), kRefresh);
  }
  // An acknowledgement for another command moves nothing.
  gateway.Send("OK show_off\r");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->Form().lOK->LedType() == ltTrigger; }, 5000));
  EXPECT_EQ(Queue(*window), kRefresh);
  EXPECT_EQ(window->tCommands.interval(), 1000);
}

TEST_F(LinkFixture, RebootIsWrittenOnceAndInfoFollowsOneIntervalLater) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  for (std::size_t i = 0; i < kRefresh.size(); ++i) {
    if (i > 0) {
      ASSERT_EQ(gateway.NextLine(), kRefresh[i] + "\r");
    }
    Acknowledge("OK");
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->tCommands.isActive(); }, 2000));

  window->bCmd_RebootClick();
  EXPECT_EQ(gateway.NextLine(), "%reboot\r");
  EXPECT_EQ(Queue(*window), kRefresh);  // "%reboot" left the queue when written
  EXPECT_EQ(window->tCommands.interval(), 1000);
  EXPECT_TRUE(window->tCommands.isActive());

  // An acknowledgement naming the reboot matches nothing now at the head.
  gateway.Send("OK reboot\r");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->Form().lOK->LedType() == ltTrigger; }, 5000));
  EXPECT_EQ(Queue(*window), kRefresh);

  window->tCommandsTimer();
  EXPECT_EQ(gateway.NextLine(), "%info\r");
}

TEST_F(LinkFixture, BareAcknowledgementDuringRebootRemovesInfoUnsent) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->ResetGatewayState();
  window->bCmd_RebootClick();
  ASSERT_EQ(gateway.NextLine(), "%reboot\r");
  Acknowledge("ERROR");
  EXPECT_EQ(window->PendingCommands().front(), "%show_off");
  window->tCommandsTimer();
  EXPECT_EQ(gateway.NextLine(), "%show_off\r");
}

TEST_F(LinkFixture, AcknowledgementMatchesTheHeadByItsLeadingPart) {
  OpenCom1();
  struct Row {
    const char* ack;
    bool removes;
  };
  const Row rows[] = {
      {"OK par_get", true},
      {"OK par", true},
      {"OK", true},
      {"ERROR par_get", true},        // a failed command is not retried
      {"OK par_set", false},
      {"OK par_get 97 more", false},  // longer than the command
      {"OK %par_get", false},
      {"ok par_get", false},          // keywords are case-sensitive
  };
  for (const Row& row : rows) {
    window->ResetGatewayState();
    window->GetParameter(97);
    window->QueueCommand("%connect");
    window->HandleLine(row.ack);
    EXPECT_EQ(window->PendingCommands().size(), row.removes ? 1u : 2u) << row.ack;
    EXPECT_EQ(window->tCommands.interval(), row.removes ? 100 : 1000) << row.ack;
  }
}

TEST_F(LinkFixture, AcknowledgementFlashesOkLimeAndErrorRed) {
  TLedPanel* lOK = window->Form().lOK;
  window->HandleLine("ERROR");  // empty queue: only the lamp
  EXPECT_EQ(lOK->LedType(), ltTrigger);
  EXPECT_EQ(lOK->palette().color(QPalette::Window), QColor(255, 0, 0));
  window->HandleLine("OK");
  EXPECT_EQ(lOK->palette().color(QPalette::Window), QColor(0, 255, 0));
  EXPECT_TRUE(window->PendingCommands().empty());
}

TEST_F(LinkFixture, KeepAliveAsksForTheStateAfterTheQueue) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  EXPECT_EQ(window->tKeepAlive.interval(), 60000);
  window->tKeepAliveTimer();
  EXPECT_EQ(window->PendingCommands().back(), "%show_state 1");
  window->ResetGatewayState();
  window->tKeepAliveTimer();
  EXPECT_EQ(gateway.NextLine(), "%show_state 1\r");
}

TEST_F(LinkFixture, ClosedPortSendsNothingAndEmptiesTheQueue) {
  window->bGetInfoClick();
  EXPECT_TRUE(window->PendingCommands().empty());
  window->bWrite_APNClick();
  EXPECT_TRUE(window->PendingCommands().empty());
  EXPECT_EQ(gateway.Drain(), "");
}

TEST_F(LinkFixture, ClosingTheWindowTellsTheGatewayToStopBeforeThePortCloses) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->close();
  EXPECT_FALSE(window->Com().IsPortOpen());
  EXPECT_FALSE(window->Form().bClose->isEnabled());
  EXPECT_EQ(gateway.NextLine(), "%show_off\r");
}

TEST_F(LinkFixture, PressingOpenTwiceLeavesOneOpenPortAndRefreshesPerOpen) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->bOpenClick();
  EXPECT_TRUE(window->Com().IsPortOpen());
  EXPECT_EQ(gateway.NextLine(), "%info\r");
  EXPECT_EQ(Queue(*window), kRefresh);
  EXPECT_TRUE(window->Form().bClose->isEnabled());
}

TEST_F(LinkFixture, OpenWithMonitorBridgesTickedDropsItsOffCommand) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->ResetGatewayState();
  window->Form().cShow_BRG->setChecked(true);
  EXPECT_EQ(gateway.NextLine(), "%show_brg 1\r");
  window->bOpenClick();
  // The reset ran with the port closed: "%show_brg 0" was dropped, not sent.
  EXPECT_FALSE(window->Form().cShow_BRG->isChecked());
  EXPECT_EQ(gateway.NextLine(), "%info\r");
}

TEST_F(LinkFixture, MonitorBoxesExcludeEachOtherOffCommandFirst) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->ResetGatewayState();
  window->Form().cShow_GNSS->setChecked(true);
  window->Form().cShow_BRG->setChecked(true);
  EXPECT_FALSE(window->Form().cShow_GNSS->isChecked());
  EXPECT_EQ(Queue(*window), (std::vector<std::string>{"%show_gnss 1", "%show_gnss 0", "%show_brg 1"}));
}

TEST_F(LinkFixture, ReceivedBytesAreCutIntoLinesAcrossEvents) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  Ui::uOrvaneMonitor& ui = window->Form();
  // One read with an acknowledgement, a report whose LF leads the next line,
  // and a report split over two reads.
  gateway.Send("OK info\r\n:cell 0 0 0 0\r:io 12.");
  EXPECT_TRUE(QTest::qWaitFor([&] { return ui.vNetwork->Caption() == "Searching for network..."; }, 5000));
  EXPECT_EQ(window->PendingCommands().size(), kRefresh.size() - 1);
  EXPECT_EQ(window->PendingReceived(), ":io 12.");
  gateway.Send("3V 4.1V 1\r");
  EXPECT_TRUE(QTest::qWaitFor([&] { return ui.vVIN->Caption() == "12.3V"; }, 5000));
  EXPECT_EQ(ui.vVIN->Caption(), "12.3V");
  EXPECT_EQ(window->PendingReceived(), "");
}

#ifdef GATEWAY_SIM
// Against the gateway simulator: the window's Refresh request meets a gateway
// that answers, and every display of the identity row fills.
TEST(GatewaySimulator, RefreshFillsTheIdentityAndEveryCommandIsAcknowledged) {
  SimulatedGateway simulator({"--bridges", "0", "--seed", "7", "--gnss-fix-ms", "0", "--log",
                              QStringLiteral("received.log")});
  ASSERT_TRUE(simulator.Started());
  {
    TFOvMonitor window;
    Ui::uOrvaneMonitor& ui = window.Form();
    OpenCom1(window);

    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.PendingCommands().empty() && ui.vGWID->Caption() == "QEL100000000004217"; }, 15000));
    EXPECT_FALSE(ui.vHardware->Caption().empty());
    EXPECT_FALSE(ui.vVersion->Caption().empty());
    EXPECT_FALSE(ui.eICCID->text().isEmpty());
    EXPECT_TRUE(ui.vIgnition->isEnabled());
    EXPECT_FALSE(ui.vNetwork->Caption().empty());
    window.close();
  }
  simulator.Stop();
  QFile received(simulator.FilePath("received.log"));
  ASSERT_TRUE(received.open(QIODevice::ReadOnly));
  QStringList lines = QString::fromUtf8(received.readAll()).split('\n', Qt::SkipEmptyParts);
  // Each command went out once (all were acknowledged), in queue order; the
  // farewell of the close comes last.
  const QStringList expected = {"%info",       "%show_off",   "%show_cell 1",  "%show_state 1", "%show_io 5",
                                "%par_get 97", "%par_get 5640", "%par_get 5641", "%show_off"};
  EXPECT_EQ(lines, expected);
}
#endif
