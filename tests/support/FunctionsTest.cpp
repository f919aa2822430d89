#include "support/MyFunctions.h"

#include "support/VersionRecord.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

TEST(Tokens, CutTakesFrontAndDelimiter) {
  std::string text = "a,b";
  EXPECT_EQ(CutToken(text, ','), "a");
  EXPECT_EQ(text, "b");
  EXPECT_EQ(CutToken(text, ','), "b");  // no delimiter left: everything, text emptied
  EXPECT_EQ(text, "");
  text = ",x";
  EXPECT_EQ(CutToken(text, ','), "");
  EXPECT_EQ(text, "x");
}

TEST(Tokens, IndexAndCountWithEmptyTokens) {
  EXPECT_EQ(TokenAt("a,,c", 0, ','), "a");
  EXPECT_EQ(TokenAt("a,,c", 1, ','), "");
  EXPECT_EQ(TokenAt("a,,c", 2, ','), "c");
  EXPECT_EQ(TokenAt("a,,c", 5, ','), "");
  EXPECT_EQ(TokenAt("a,b,", 2, ','), "");
  EXPECT_EQ(TokenCount("a,,c", ','), 3);
  EXPECT_EQ(TokenCount("", ','), 0);
  EXPECT_EQ(TokenCount(",", ','), 2);
}

TEST(Text, BlanksAndTrimming) {
  EXPECT_EQ(CollapseBlanks("  a   b  "), "a b");
  EXPECT_EQ(CollapseBlanks("a\t\tb"), "a\t\tb");  // tabs are not blanks
  EXPECT_EQ(CollapseBlanks("   "), "");
  EXPECT_EQ(TrimCharSet("\r\n :ok x \r\n", "\r\n "), ":ok x");
  EXPECT_EQ(TrimCharSet("\r\n", "\r\n "), "");
}

TEST(Text, ReplaceDoesNotRescanInsertedText) {
  EXPECT_EQ(ReplaceText("aaa", "a", "aa", true), "aaaaaa");
  EXPECT_EQ(ReplaceText("abAB", "ab", "x", true), "xAB");
  EXPECT_EQ(ReplaceText("abAB", "aB", "x", false), "xx");
  EXPECT_EQ(ReplaceText("Hello hELLo", "ello", "i", false), "Hi hi");  // other case kept
  EXPECT_EQ(ReplaceText("abc", "", "x", true), "abc");
  EXPECT_EQ(ReplaceChar("a:b:c", ':', '-'), "a-b-c");
  EXPECT_EQ(ReplaceChar("a:b:c", ':', '\0'), "abc");
}

TEST(Text, CasingTouchesAsciiOnly) {
  EXPECT_EQ(UpperText("ab\xE9z"), "AB\xE9Z");
  EXPECT_EQ(LowerText("AB\xC9Z"), "ab\xC9z");
}

TEST(Text, PaddingAndRightPart) {
  EXPECT_EQ(ZeroPad(7, 3), "007");
  EXPECT_EQ(ZeroPad(1234, 2), "1234");
  EXPECT_EQ(ZeroPad(-5, 3), "0-5");
  EXPECT_EQ(RightText("abcdef", 2), "ef");
  EXPECT_EQ(RightText("ab", 5), "ab");
  EXPECT_EQ(RightText("ab", 0), "");
}

TEST(Numbers, IntPowWrapsAndTreatsNegativeExponentAsZero) {
  EXPECT_EQ(IntPow(10, 3), 1000);
  EXPECT_EQ(IntPow(7, 0), 1);
  EXPECT_EQ(IntPow(7, -2), 1);
  EXPECT_EQ(IntPow(2, 32), 0);
  EXPECT_EQ(IntPow(-2, 3), -8);
}

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const char *value) : m_name(name) {
    if (const char *old = std::getenv(name)) m_old = old, m_had = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (m_had) setenv(m_name.c_str(), m_old.c_str(), 1);
    else unsetenv(m_name.c_str());
  }

private:
  std::string m_name, m_old;
  bool m_had = false;
};

TEST(ExpandEnvironment, SubstitutesKnownAndKeepsUnknown) {
  ScopedEnv a("ORVANE_TEST_A", "/x/y");
  ScopedEnv b("ORVANE_TEST_NOPE", nullptr);
  EXPECT_EQ(ExpandEnvironment("%ORVANE_TEST_A%/log"), "/x/y/log");
  EXPECT_EQ(ExpandEnvironment("%orvane_test_a%"), "/x/y");  // names are case-blind
  EXPECT_EQ(ExpandEnvironment("%ORVANE_TEST_NOPE%-%ORVANE_TEST_A%"), "%ORVANE_TEST_NOPE%-/x/y");
  EXPECT_EQ(ExpandEnvironment("100% sure"), "100% sure");
  EXPECT_EQ(ExpandEnvironment("%%"), "%%");
  EXPECT_EQ(ExpandEnvironment(""), "");
}

TEST(ExpandEnvironment, TempFallsBackToTmpdirThenSlashTmp) {
  ScopedEnv temp("TEMP", nullptr);
  ScopedEnv tmp("TMP", nullptr);
  {
    ScopedEnv tmpdir("TMPDIR", "/var/scratch");
    EXPECT_EQ(ExpandEnvironment("%TEMP%/sqlite.debug.log"), "/var/scratch/sqlite.debug.log");
  }
  ScopedEnv tmpdir("TMPDIR", nullptr);
  EXPECT_EQ(ExpandEnvironment("%TEMP%"), "/tmp");
  ScopedEnv set("TEMP", "/own");
  EXPECT_EQ(ExpandEnvironment("%TEMP%"), "/own");
}

// Builds record bytes at run time, so that this test program itself never holds a record
// (one of the tests below reads its own executable and expects none).
std::string RecordBytes(std::uint16_t major, std::uint16_t minor, std::uint16_t release,
                        std::uint16_t build) {
  volatile unsigned char mask = orvane_version::kMagicMask;
  std::string bytes;
  for (unsigned char c : orvane_version::kMaskedMagic) bytes += static_cast<char>(c ^ mask);
  unsigned char numbers[8];
  const std::uint16_t values[4] = {major, minor, release, build};
  for (int i = 0; i < 4; ++i) {
    numbers[2 * i] = static_cast<unsigned char>(values[i]);
    numbers[2 * i + 1] = static_cast<unsigned char>(values[i] >> 8);
  }
  bytes.append(reinterpret_cast<char *>(numbers), 8);
  const std::uint32_t check = orvane_version::CheckValue(numbers);
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(check >> (8 * i));
  return bytes;
}

class VersionFile : public ::testing::Test {
protected:
  void TearDown() override { std::remove(m_path.c_str()); }
  const std::string &Write(const std::string &content) {
    std::ofstream(m_path, std::ios::binary) << content;
    return m_path;
  }
  std::string m_path = ::testing::TempDir() + "version_" + std::to_string(getpid()) + ".bin";
};

TEST_F(VersionFile, ProgramWithEmbeddedRecord) {
  EXPECT_EQ(FileVersionText(VERSION_PROBE_PATH, false), "1.25.8.2");
  EXPECT_EQ(FileVersionText(VERSION_PROBE_PATH, true), "1.25.8.2");
}

TEST_F(VersionFile, ReaderAloneIsNoRecord) {
  EXPECT_EQ(FileVersionText(ProgramFileName(), false), "");
}

TEST_F(VersionFile, TrimRemovesTrailingZeroParts) {
  EXPECT_EQ(FileVersionText(Write("junk" + RecordBytes(1, 25, 0, 0)), true), "1.25");
  EXPECT_EQ(FileVersionText(m_path, false), "1.25.0.0");
  EXPECT_EQ(FileVersionText(Write(RecordBytes(2, 0, 10, 0)), true), "2.0.10");
  EXPECT_EQ(FileVersionText(Write(RecordBytes(65535, 0, 0, 0)), true), "65535");
}

TEST_F(VersionFile, RecordAcrossReadChunksAndAfterFalseStarts) {
  std::string bad = RecordBytes(9, 9, 9, 9);
  bad[bad.size() - 1] ^= 1;  // broken check value
  std::string content = bad + RecordBytes(3, 1, 4, 1).substr(0, 20);
  content.resize(65536 - 7, 'Q');  // the real record straddles the first 64 KiB read
  EXPECT_EQ(FileVersionText(Write(content + RecordBytes(3, 1, 4, 1)), false), "3.1.4.1");
}

TEST_F(VersionFile, NoRecordGivesEmptyText) {
  EXPECT_EQ(FileVersionText(Write(""), false), "");
  EXPECT_EQ(FileVersionText(Write(RecordBytes(1, 2, 3, 4).substr(0, 27)), false), "");
  EXPECT_EQ(FileVersionText("/nonexistent/file", false), "");
}

} // namespace
