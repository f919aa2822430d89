#include "cloud/VersionCheck.h"

#include <gtest/gtest.h>

#include "HiveFixture.h"
#include "support/Clock.h"

namespace {

struct VersionCheckTest : HiveFixture {
  void TearDown() override {
    SetNowOverride({});
    HiveFixture::TearDown();
  }
};

TEST_F(VersionCheckTest, WeeklyRuleOnTheReplaceableClock) {
  const double lastCheck = EncodeDateTime(2026, 3, 1, 9, 30);
  TRegIniExtended settings = Store();
  settings.WriteInteger({}, kVersionCheckValue, static_cast<int>(lastCheck));
  const struct {
    double now;
    bool due;
  } cases[] = {
      {lastCheck + 6, false},             // exactly 6 days later
      {lastCheck + 6 + 0.6, false},       // late on the sixth day: still the same day number
      {EncodeDateTime(2026, 3, 8), true}, // the seventh day, just after midnight
  };
  for (const auto& c : cases) {
    SetNowOverride([&] { return c.now; });
    EXPECT_EQ(ClaimVersionCheck(settings, TodayNumber(), false), c.due) << c.now;
  }
  // The due check took today as its day: the next automatic one waits again.
  EXPECT_EQ(Store().ReadInteger({}, kVersionCheckValue, 0), static_cast<int>(EncodeDateTime(2026, 3, 8)));
  EXPECT_FALSE(ClaimVersionCheck(settings, TodayNumber(), false));
  // Forced checks run whenever asked.
  EXPECT_TRUE(ClaimVersionCheck(settings, TodayNumber(), true));
}

TEST_F(VersionCheckTest, NeverCheckedIsDue) {
  TRegIniExtended settings = Store();
  EXPECT_TRUE(ClaimVersionCheck(settings, 46000, false));
  EXPECT_EQ(Store().ReadInteger({}, kVersionCheckValue, 0), 46000);
}

TEST_F(VersionCheckTest, NewOwnVersionForgetsThePreviousCheck) {
  {
    TRegIniExtended settings = Store();
    settings.WriteString({}, kVersionValue, "1.0.0.1");
    settings.WriteString({}, kVersionAvailableValue, "1.0.0.2");
    settings.WriteInteger({}, kVersionCheckValue, 46000);
    EXPECT_EQ(RefreshVersionState(settings, "1.0.0.1"), vsNewer);
  }
  TRegIniExtended settings = Store();
  EXPECT_EQ(RefreshVersionState(settings, "1.0.0.2"), vsUnknown);
  const TRegIniExtended reader = Store();
  EXPECT_EQ(reader.ReadString({}, kVersionValue, {}), "1.0.0.2");
  EXPECT_FALSE(reader.ValueExists({}, kVersionAvailableValue));
  EXPECT_FALSE(reader.ValueExists({}, kVersionCheckValue));
  // So a check runs at once.
  EXPECT_TRUE(ClaimVersionCheck(settings, 46001, false));
}

TEST_F(VersionCheckTest, PublishedVersionIsComparedByteForByte) {
  const struct {
    const char* published;
    TVersionState state;
  } cases[] = {
      {"1.25.8.2", vsUpToDate},
      {"1.25.8.2\n", vsNewer},    // a trailing line break never equals
      {"1.25.8.1", vsNewer},      // older versions count as other ones too
      {"1.25.8.02", vsNewer},
  };
  for (const auto& c : cases) {
    TRegIniExtended settings = Store();
    settings.WriteString({}, kVersionValue, "1.25.8.2");
    settings.WriteString({}, kVersionAvailableValue, c.published);
    EXPECT_EQ(RefreshVersionState(settings, "1.25.8.2"), c.state) << c.published;
  }
}

TEST_F(VersionCheckTest, OnlyA200WithABodyIsStored) {
  TRegIniExtended settings = Store();
  settings.WriteString({}, kVersionAvailableValue, "1.0.0.0");
  EXPECT_FALSE(StoreVersionAnswer(settings, 0, ""));
  EXPECT_FALSE(StoreVersionAnswer(settings, 404, "not found"));
  EXPECT_FALSE(StoreVersionAnswer(settings, 200, ""));
  EXPECT_EQ(Store().ReadString({}, kVersionAvailableValue, {}), "1.0.0.0");
  EXPECT_TRUE(StoreVersionAnswer(settings, 200, "2.0.0.0\r\n"));
  EXPECT_EQ(Store().ReadString({}, kVersionAvailableValue, {}), "2.0.0.0\r\n");
}

TEST_F(VersionCheckTest, HostIsOverridable) {
  TRegIniExtended settings = Store();
  EXPECT_EQ(VersionFileURL(settings), "https://www.orvane.cloud/files/OrvaneMonitor.ver");
  settings.WriteString("Endpoints", kVersionHostValue, "127.0.0.1:8443");
  EXPECT_EQ(VersionFileURL(settings), "https://127.0.0.1:8443/files/OrvaneMonitor.ver");
  EXPECT_EQ(DownloadURL(settings), "https://127.0.0.1:8443/files/OrvaneMonitor.zip");
}

}  // namespace
