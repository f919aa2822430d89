// The gateway dialogue over a real pseudo-terminal: what goes out, in which
// order, and how acknowledgements move the queue. Timers are read and their
// handlers called instead of waiting out a retransmission.
#include <gtest/gtest.h>

#include <QElapsedTimer>
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

// Regression: an acknowledgement removed commands that had never been written:
// the second of the two a slow gateway sends for a command and its
// retransmission took the next command, and a bare one after "%reboot" took
// "%info".
TEST_F(LinkFixture, AcknowledgementNeverRemovesACommandNotYetWritten) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->ResetGatewayState();
  window->SetParameter(5640, "Net");
  window->SetParameter(5641, "secret");
  ASSERT_EQ(gateway.NextLine(), "%par_set 5640 Net\r");
  window->tCommandsTimer();  // the retransmission
  ASSERT_EQ(gateway.NextLine(), "%par_set 5640 Net\r");
  window->HandleLine("OK par_set");
  window->HandleLine("OK par_set");
  EXPECT_EQ(Queue(*window), std::vector<std::string>{"%par_set 5641 secret"});
  window->tCommandsTimer();
  EXPECT_EQ(gateway.NextLine(), "%par_set 5641 secret\r");

  window->ResetGatewayState();
  window->bCmd_RebootClick();
  ASSERT_EQ(gateway.NextLine(), "%reboot\r");
  for (const char* bare : {"OK", "ERROR"}) window->HandleLine(bare);
  EXPECT_EQ(Queue(*window), kRefresh);
  window->tCommandsTimer();
  EXPECT_EQ(gateway.NextLine(), "%info\r");
  window->HandleLine("OK");
  EXPECT_EQ(window->PendingCommands().front(), "%show_off");
}

// Regression: on Qt's default coarse timers the retransmission and the gap
// before the next command ran up to some percent short.
TEST_F(LinkFixture, RetransmissionAndNextCommandWaitTheirFullInterval) {
  OpenCom1();
  ASSERT_EQ(gateway.NextLine(), "%info\r");
  window->ResetGatewayState();
  constexpr int kRetransmissions = 2;
  constexpr int kCommands = 12;
  QElapsedTimer clock;
  std::vector<qint64> waitedUs;
  // Runs after the send step, which has armed the timer again.
  QObject::connect(&window->tCommands, &QTimer::timeout, [&] {
    waitedUs.push_back(clock.nsecsElapsed() / 1000);
    if (waitedUs.size() >= kRetransmissions) window->HandleLine("OK");
    clock.restart();
  });
  clock.start();
  for (int i = 0; i < kCommands; ++i) window->QueueCommand("%info");
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->PendingCommands().empty(); }, 20000));
  ASSERT_GE(waitedUs.size(), static_cast<std::size_t>(kRetransmissions + kCommands - 1));
  for (std::size_t i = 0; i < waitedUs.size(); ++i) {
    // Timers count whole milliseconds from the moment they are armed.
    const qint64 interval = i < kRetransmissions ? 1000 : 100;
    EXPECT_GE(waitedUs[i], interval * 1000 - 1000) << "tick " << i;
  }
  gateway.Drain();
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

// Against a gateway that is busy for 1.2 s with each new command and then
// acknowledges the command and its retransmission back to back: every Refresh
// line and both lines of Write WiFi arrive, in order, and the SSID read from
// the gateway in its own code page goes back unchanged.
TEST(GatewaySimulator, BusyGatewayGetsEveryCommandAndItsOwnBytesBack) {
  SimulatedGateway simulator({"--busy", "1200", "--bridges", "0", "--seed", "7", "--gnss-fix-ms", "0", "--control",
                              "control", "--log", "received.log"});
  ASSERT_TRUE(simulator.Started());
  simulator.Control("set 5640 Caf\xE9");  // Latin-1, not UTF-8
  {
    TFOvMonitor window;
    Ui::uOrvaneMonitor& ui = window.Form();
    OpenCom1(window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.PendingCommands().empty(); }, 30000));
    EXPECT_EQ(ui.eWiFi_SSID->text(), QStringLiteral("Caf\u00E9"));
    ui.eWiFi_Password->setText("new secret");
    ui.bWrite_WiFi->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.PendingCommands().empty(); }, 15000));
    window.close();
  }
  simulator.Stop();
  QFile received(simulator.FilePath("received.log"));
  ASSERT_TRUE(received.open(QIODevice::ReadOnly));
  std::vector<std::string> lines;
  int retransmissions = 0;
  for (const QByteArray& line : received.readAll().split('\n')) {
    if (line.isEmpty()) continue;
    if (!lines.empty() && lines.back() == line.toStdString()) {
      ++retransmissions;
      continue;
    }
    lines.push_back(line.toStdString());
  }
  std::vector<std::string> expected = kRefresh;
  expected.insert(expected.end(), {"%par_set 5640 Caf\xE9", "%par_set 5641 new secret", "%show_off"});
  EXPECT_EQ(lines, expected);
  // The gateway was slow enough for commands to go out twice (each of the 11
  // does on an idle machine; a loaded one may answer before a retransmission).
  EXPECT_GE(retransmissions, 5);
}
#endif
