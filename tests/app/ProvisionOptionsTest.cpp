// The provisioning command line and the parameter profile it reads.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "ParameterProfile.h"

namespace {

using Settings = std::vector<TParameterSetting>;

TEST(ProvisionOptions, HeadlessOptionsAndTheirUsageErrors) {
  struct Row {
    QStringList arguments;
    std::optional<int> exitStatus;
    Settings settings;
    int timeout;
    std::string errorPart;
  } const rows[] = {
      {{"m", "--provision", "--port", "COM3"}, std::nullopt, {}, 60, ""},
      // A later --set of the same number wins in the first one's place; escapes are bytes.
      {{"m", "--provision", "--port", "COM3", "--set", "97=a", "--set", "12=s\\x20x", "--set", "97=b"},
       std::nullopt, {{97, "b"}, {12, "s x"}}, 60, ""},
      {{"m", "--report", "r.pdf", "--port", "COM1", "--timeout", "5"}, std::nullopt, {}, 5, ""},
      {{"m", "--provision"}, 2, {}, 60, "--provision needs --port"},
      {{"m", "--report", "r.pdf"}, 2, {}, 60, "--report needs --port"},
      {{"m", "--port", "COM1", "--set", "97=a"}, 2, {}, 60, "--set is for --provision only"},
      {{"m", "--port", "COM1", "--timeout", "5"}, 2, {}, 60, "--timeout is for --provision and --report only"},
      {{"m", "--provision", "--port", "COM1", "--timeout", "0"}, 2, {}, 60, "--timeout takes 1 to 86400 seconds"},
      {{"m", "--provision", "--port", "COM1", "--set", "apn=x"}, 2, {}, 60, "--set: expected NUMBER=VALUE"},
      {{"m", "--provision", "--port", "COM1", "--set", "97=\\xZZ"}, 2, {}, 60, "--set: a backslash must start"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    TCommandLine options;
    const TCommandLineOutcome outcome = ParseCommandLine(row.arguments, options);
    EXPECT_EQ(outcome.exitStatus, row.exitStatus);
    EXPECT_NE(outcome.err.find(row.errorPart), std::string::npos) << outcome.err;
    EXPECT_EQ(options.settings, row.settings);
    EXPECT_EQ(options.timeoutSeconds, row.timeout);
  }
}

TEST(ParameterProfile, LinesCommentsEscapesAndErrors) {
  struct Row {
    const char* text;
    bool ok;
    Settings settings;
    const char* errorPart;
  } const rows[] = {
      // Comments, blank lines, CR LF line ends; blanks inside and around a value are its own.
      {"# customer A\r\n\n  # indented comment\n97=fleet apn \r\n12=aws-prod-cloud", true,
       {{97, "fleet apn "}, {12, "aws-prod-cloud"}}, ""},
      // An empty value is a value (it clears the parameter); "=" inside a value stays.
      {"1=\n5640=a=b\n", true, {{1, ""}, {5640, "a=b"}}, ""},
      // Bytes that are not printable, and the backslash itself.
      {"5641=p\\x00\\xFFw\\\\d", true, {{5641, std::string("p\0\xFFw\\d", 6)}}, ""},
      // A later line for the same number wins.
      {"97=a\n97=b", true, {{97, "b"}}, ""},
      {"97=a\nAPN=b", false, {}, "line 2: expected NUMBER=VALUE"},
      {"65536=x", false, {}, "line 1: expected NUMBER=VALUE"},
      {"97", false, {}, "line 1: expected NUMBER=VALUE"},
      {"97=a\\x4", false, {}, "line 1: a backslash must start"},
      {"97=a\\x0Db", false, {}, "line 1: parameter 97: a value cannot hold a line end"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Settings settings;
    std::string error;
    EXPECT_EQ(ParseParameterProfile(row.text, settings, error), row.ok);
    EXPECT_EQ(settings, row.settings);
    EXPECT_NE(error.find(row.errorPart), std::string::npos) << error;
  }
}

TEST(ParameterProfile, WrittenProfileReadsBackToTheSameBytes) {
  const Settings written = {{97, "internet"}, {5640, "Caf\xE9 net"}, {5641, std::string("a\\b\0\x7F\x1B", 6)}, {1, ""}};
  const std::string text = ParameterProfileText(written, "from QEL100000000004217");
  EXPECT_EQ(text.rfind("# from QEL100000000004217\n", 0), 0u) << text;
  EXPECT_EQ(text.find('\0'), std::string::npos);
  Settings read;
  std::string error;
  ASSERT_TRUE(ParseParameterProfile(text, read, error)) << error;
  EXPECT_EQ(read, written);
}

}  // namespace
