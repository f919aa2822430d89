#include "support/Variant.h"

#include "support/Clock.h"

#include <gtest/gtest.h>

namespace {

TEST(Variant, KindsOfConstructors) {
  EXPECT_EQ(Variant().kind(), vkNull);
  EXPECT_EQ(Variant::Empty().kind(), vkEmpty);
  EXPECT_EQ(Variant(std::int8_t{1}).kind(), vkInt8);
  EXPECT_EQ(Variant(std::uint16_t{1}).kind(), vkUInt16);
  EXPECT_EQ(Variant(1).kind(), vkInt32);
  EXPECT_EQ(Variant(1LL).kind(), vkInt64);
  EXPECT_EQ(Variant(1ULL).kind(), vkUInt64);
  EXPECT_EQ(Variant(1.0f).kind(), vkSingle);
  EXPECT_EQ(Variant(1.0).kind(), vkDouble);
  EXPECT_EQ(Variant::FromDateTime(1.0).kind(), vkDateTime);
  EXPECT_EQ(Variant::FromCurrency(1.0).kind(), vkCurrency);
  EXPECT_EQ(Variant("x").kind(), vkString);
  EXPECT_EQ(Variant(u"x").kind(), vkWideString);
}

TEST(Variant, TextForms) {
  EXPECT_EQ(Variant().ToString(), "");
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant(false).ToString(), "False");
  EXPECT_EQ(Variant(std::uint64_t{18446744073709551615ULL}).ToString(), "18446744073709551615");
  EXPECT_EQ(Variant(0.1).ToString(), "0.1");
  EXPECT_EQ(Variant(0.1f).ToString(), "0.1");  // the single's own shortest form
  EXPECT_EQ(Variant::FromCurrencyScaled(-12345).ToString(), "-1.2345");
  EXPECT_EQ(Variant::FromCurrencyScaled(20000).ToString(), "2");
  EXPECT_EQ(Variant::FromDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59)).ToString(),
            "2024-02-29 23:59:59");
  EXPECT_EQ(Variant(std::string("a\0b", 3)).ToString(), std::string("a\0b", 3));
}

TEST(Variant, WideStringsRoundTripThroughUtf8) {
  const std::u16string wide = u"\u05E9\u05DC\u05D5\u05DD \U0001F600";
  EXPECT_EQ(Utf8ToWide(Variant(wide).ToString()), wide);
  EXPECT_EQ(Variant("caf\xC3\xA9").ToWideString(), u"caf\u00E9");
  // Bytes that are not UTF-8 are taken one per code unit rather than dropped.
  EXPECT_EQ(Variant("\xE9").ToWideString(), u"\u00E9");
  // A lone surrogate survives the trip.
  const std::u16string lone(1, char16_t(0xD800));
  EXPECT_EQ(Utf8ToWide(WideToUtf8(lone)), lone);
}

TEST(Variant, NumericConversions) {
  EXPECT_EQ(Variant("1,234").ToInt32(), 1234);
  EXPECT_EQ(Variant("abc").ToInt64(), 0);
  EXPECT_EQ(Variant(-2.7).ToInt64(), -2);
  EXPECT_EQ(Variant(1e300).ToInt64(), 0);  // no undefined conversion
  EXPECT_EQ(Variant(std::int64_t{0x1'0000'0007}).ToInt32(), 7);
  EXPECT_DOUBLE_EQ(Variant("2.5").ToDouble(), 2.5);
  EXPECT_DOUBLE_EQ(Variant::FromCurrency(1.23456).ToDouble(), 1.2346);
  EXPECT_EQ(Variant(3).ToCurrencyScaled(), 30000);
  EXPECT_TRUE(Variant("True").ToBool());
  EXPECT_TRUE(Variant(2).ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
  EXPECT_FALSE(Variant().ToBool());
}

TEST(Variant, EqualityNeedsSameKind) {
  EXPECT_EQ(Variant(), Variant());
  EXPECT_FALSE(Variant() == Variant::Empty());
  EXPECT_FALSE(Variant(1) == Variant(1LL));
  EXPECT_FALSE(Variant(1.0) == Variant::FromDateTime(1.0));
  EXPECT_EQ(Variant("a"), Variant(std::string("a")));
}

TEST(Clock, CalendarEdges) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 3, 1), 61);  // 1900 was no leap year
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1), 36526);
  const TDateTimeParts leap = DecodeDateTime(EncodeDateTime(2000, 2, 29, 12));
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(leap.hour, 12);
  EXPECT_EQ(leap.dayOfWeek, 3);  // Tuesday
  // Before day 0 the fraction is still the time of day.
  const TDateTimeParts before = DecodeDateTime(-1.25);
  EXPECT_EQ(before.day, 29);
  EXPECT_EQ(before.hour, 6);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
}

TEST(Clock, RoundingReachesTheFollowingMidnight) {
  // Before day 0 the whole part is still the day and the fraction its time, so a time
  // that rounds up to midnight moves to the next day there as well.
  const struct {
    double dateTime;
    int year, month, day, hour;
  } cases[] = {
      {EncodeDateTime(2025, 12, 31) + 0.9999999999, 2026, 1, 1, 0},
      {-1.99999999999, 1899, 12, 30, 0},
      {-0.99999999999, 1899, 12, 31, 0},
      {-2.5, 1899, 12, 28, 12},
      {-0.5, 1899, 12, 30, 12},
  };
  for (const auto &c : cases) {
    const TDateTimeParts p = DecodeDateTime(c.dateTime);
    EXPECT_EQ(p.year, c.year) << c.dateTime;
    EXPECT_EQ(p.month, c.month) << c.dateTime;
    EXPECT_EQ(p.day, c.day) << c.dateTime;
    EXPECT_EQ(p.hour, c.hour) << c.dateTime;
  }
}

TEST(Clock, UnixConversions) {
  EXPECT_DOUBLE_EQ(UnixToDateTime(0), 25569);
  EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2025, 3, 6, 9, 5, 7)), 1741251907);
}

TEST(Clock, OverrideReplacesNow) {
  SetNowOverride([] { return 1234.5; });
  EXPECT_DOUBLE_EQ(Now(), 1234.5);
  SetNowOverride({});
  EXPECT_GT(Now(), EncodeDateTime(2020, 1, 1));
}

} // namespace
