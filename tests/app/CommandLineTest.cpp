#include "CommandLine.h"

#include <gtest/gtest.h>

#include <QTest>

#include "GatewayTrace.h"
#include "WindowFixture.h"
#include "serial/AfComPort.h"
#include "serial/AfPortControls.h"
#include "ui_uOrvaneMonitor.h"

namespace {

TEST(CommandLine, OptionsAndUsageErrors) {
  struct Row {
    QStringList arguments;
    std::optional<int> exitStatus;
    uint16_t port;
    bool open;
    std::string trace;
    std::string errorPart;
  } const rows[] = {
      {{"m"}, std::nullopt, 0, false, "", ""},
      {{"m", "--port", "COM1", "--open", "--trace", "/tmp/t.log"}, std::nullopt, 1, true, "/tmp/t.log", ""},
      {{"m", "--port=com12"}, std::nullopt, 12, false, "", ""},
      {{"m", "--port", "COM 1025"}, std::nullopt, 1025, false, "", ""},
      {{"m", "--port", "COM1026"}, 2, 0, false, "", "--port takes COM1 to COM1025, not 'COM1026'"},
      {{"m", "--port", "COM0"}, 2, 0, false, "", "not 'COM0'"},
      {{"m", "--port", "COM1x"}, 2, 0, false, "", "not 'COM1x'"},
      {{"m", "--port", "/dev/ttyUSB0"}, 2, 0, false, "", "not '/dev/ttyUSB0'"},
      {{"m", "--port"}, 2, 0, false, "", "Missing value after '--port'"},
      {{"m", "--trace", ""}, 2, 0, false, "", "--trace needs a file name"},
      {{"m", "--frobnicate"}, 2, 0, false, "", "m: Unknown option 'frobnicate'.\nTry 'm --help'"},
      {{"/usr/bin/orvane-monitor", "COM1"}, 2, 0, false, "", "orvane-monitor: unexpected argument 'COM1'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    TCommandLine options;
    const TCommandLineOutcome outcome = ParseCommandLine(row.arguments, options);
    EXPECT_EQ(outcome.exitStatus, row.exitStatus);
    EXPECT_NE(outcome.err.find(row.errorPart), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.empty(), row.errorPart.empty());
    EXPECT_EQ(options.port, row.port);
    EXPECT_EQ(options.open, row.open);
    EXPECT_EQ(options.traceFile, row.trace);
  }
}

TEST(CommandLine, HelpAndVersionStopWithoutError) {
  TCommandLine options;
  const TCommandLineOutcome help = ParseCommandLine({"/opt/x/orvane-monitor", "--help", "--port", "bad"}, options);
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out.rfind("Usage: orvane-monitor [options]", 0), 0u) << help.out;
  for (const char* option : {"--port <COMn>", "--open", "--trace <FILE>", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const TCommandLineOutcome version = ParseCommandLine({"m", "--version"}, options);
  EXPECT_EQ(version.exitStatus, 0);
  // The test program carries the version record 2.0.0.0.
  EXPECT_EQ(version.out, "Qel Orvane Monitor 2.0.0.0\n");
}

TEST(GatewayTrace, SecretParameterValuesAreMasked) {
  struct Row {
    const char* line;
    const char* traced;
  } const rows[] = {
      {"%par_set 5641 my wifi pass", "%par_set 5641 ***"},
      {"%par_set 61 1234", "%par_set 61 ***"},
      {":get 5641 my wifi pass", ":get 5641 ***"},
      {"OK par_set 61 1234", "OK par_set 61 ***"},
      {"%par_set 61 ", "%par_set 61 "},  // nothing to hide
      {"%par_set 97 internet", "%par_set 97 internet"},
      {":get 5640 HomeNet", ":get 5640 HomeNet"},
      {"%par_get 5641", "%par_get 5641"},
      {":cell 61 5641 x", ":cell 61 5641 x"},
      {"%par_set 561 x", "%par_set 561 x"},
  };
  for (const Row& row : rows) EXPECT_EQ(GatewayTraceText(row.line), row.traced) << row.line;
}

using CommandLineWindow = LinkFixture;

TEST_F(CommandLineWindow, PortIsSelectedAndOpenedOnceTheLoopRuns) {
  TCommandLine options;
  options.port = 1;
  options.open = true;
  ASSERT_TRUE(ApplyCommandLine(*window, options));
  EXPECT_EQ(window->Com().ComNumber(), 1);
  EXPECT_EQ(window->Form().cComPort->currentText(), "COM 1");
  EXPECT_FALSE(window->Com().IsPortOpen());  // not before the event loop runs
  EXPECT_EQ(gateway.NextLine(), "%info\r");
  EXPECT_TRUE(window->Com().IsPortOpen());
}

TEST_F(CommandLineWindow, APortThatIsNotThereIsNeitherSelectedNorOpened) {
  const int before = window->Com().ComNumber();
  TCommandLine options;
  options.port = 1000;
  options.open = true;
  EXPECT_FALSE(ApplyCommandLine(*window, options));
  QTest::qWait(20);
  EXPECT_EQ(window->Com().ComNumber(), before);
  EXPECT_FALSE(window->Com().IsPortOpen());
}

}  // namespace
