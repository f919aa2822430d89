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
  // The window's tests cover what is shown; this is the day arithmetic.
  const struct {
    double now;
    bool due;
  } cases[] = {
      {lastCheck + 6, false},             // exactly 6 days later
      {lastCheck + 6 + 0.6, false},       // late on the sixth day: still the same day number
      {lastCheck - 1, true},              // the stored day is after today (clock set back)
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

TEST_F(VersionCheckTest, OnlyAWholeShortAnswerIsStored) {
  TRegIniExtended settings = Store();
  const struct {
    int status;
    std::string body;
    bool stored;
  } cases[] = {
      {200, "2.7.1.0", true},
      {200, std::string(kMaxStoredVersionBytes, '9'), true},
      {200, std::string(kMaxStoredVersionBytes + 1, '9'), false},  // a page, not a version
      {200, "", false},
      {404, "2.7.1.1", false},
  };
  for (const auto& c : cases) {
    settings.WriteString({}, kVersionAvailableValue, "before");
    EXPECT_EQ(StoreVersionAnswer(settings, c.status, c.body), c.stored) << c.status << " " << c.body.size();
    EXPECT_EQ(Store().ReadString({}, kVersionAvailableValue, {}), c.stored ? c.body : "before");
  }
}

}  // namespace
