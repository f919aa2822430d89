#include "support/MyConvert.h"

#include "support/Clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

struct IntRow {
  const char *text;
  std::int32_t expected;
};

TEST(TextToInt, ReadsGatewayNumbers) {
  const IntRow rows[] = {
      {"1,234", 1234},          // thousands commas are skipped
      {"-12", -12},             // sign
      {"+7", 7},                // plus dropped
      {"", 0},                  // empty text is 0, not the default
      {"-", 0},                 // a sign alone too
      {"12a", 99},              // any other character gives the default
      {" 12", 99},              // blanks are not skipped
      {"1-2", 99},              // a sign only at the front
      {"4294967297", 1},        // wraps at 32 bits
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto &row : rows) EXPECT_EQ(TextToInt(row.text, 99), row.expected) << row.text;
}

TEST(TextToInt64, SameRulesWithSixtyFourBits) {
  EXPECT_EQ(TextToInt64("-9", 5), -9);
  EXPECT_EQ(TextToInt64("9,223,372,036,854,775,807", 5), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(TextToInt64("x", 5), 5);
  EXPECT_EQ(TextToInt64("", 5), 0);
}

TEST(TextToFloat, CommasDecimalPointAndDefault) {
  EXPECT_DOUBLE_EQ(TextToFloat("1,234.5", -1), 1234.5);
  EXPECT_DOUBLE_EQ(TextToFloat("-0.25", -1), -0.25);
  EXPECT_DOUBLE_EQ(TextToFloat("+2e3", -1), 2000);
  EXPECT_DOUBLE_EQ(TextToFloat("1.2.3", -1), -1);
  EXPECT_DOUBLE_EQ(TextToFloat("", -1), -1);
  EXPECT_DOUBLE_EQ(TextToFloat("inf", -1), -1);   // only decimal notation
  EXPECT_DOUBLE_EQ(TextToFloat("0x10", -1), -1);
  EXPECT_DOUBLE_EQ(TextToFloat("1,5", -1), 15);   // a comma is never a decimal point
  EXPECT_DOUBLE_EQ(TextToFloat("+-1", -1), -1);
}

TEST(HexToInt, DigitsOfEitherCaseOnly) {
  EXPECT_EQ(HexToInt("1f", -1), 31);
  EXPECT_EQ(HexToInt("1F", -1), 31);
  EXPECT_EQ(HexToInt("", -1), -1);
  EXPECT_EQ(HexToInt("0x1F", -1), -1);
  EXPECT_EQ(HexToInt("FFFFFFFF", 0), -1);       // wraps into the sign bit
  EXPECT_EQ(HexToInt64("7FFFFFFFFFFFFFFF", 0), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(HexToInt64("g", 3), 3);
}

TEST(IsAllDigits, EmptyCountsAsDigits) {
  EXPECT_TRUE(IsAllDigits(""));
  EXPECT_TRUE(IsAllDigits("0123456789"));
  EXPECT_FALSE(IsAllDigits("12 "));
  EXPECT_FALSE(IsAllDigits("-1"));
}

TEST(Hex, BytesRoundTripWithAndWithoutBlanks) {
  const std::string bytes("\x01\xAB\x00\xff", 4);
  EXPECT_EQ(BytesToHex(bytes, true), "01 AB 00 FF");
  EXPECT_EQ(BytesToHex(bytes, false), "01AB00FF");
  EXPECT_EQ(HexToBytes("01 AB 00 FF", true), bytes);
  EXPECT_EQ(HexToBytes("01ab00ff", false), bytes);
  EXPECT_EQ(BytesToHex("", true), "");
  EXPECT_EQ(HexToBytes("", true), "");
}

TEST(Hex, ToBytesEdges) {
  EXPECT_EQ(HexToBytes("ABC", false), std::string("\xAB\x0C", 2));  // last single digit alone
  EXPECT_EQ(HexToBytes("zz01", false), std::string("\x00\x01", 2)); // bad pair reads as 0
  EXPECT_EQ(HexToBytes("01  02", true), std::string("\x01\x00\x02", 3)); // empty piece is 0
  EXPECT_EQ(HexToBytes("1 2", true), std::string("\x01\x02", 2));
  EXPECT_THROW(HexToBytes("01 100", true), std::range_error);
  EXPECT_THROW(HexToBytes("FFFFFFFF", true), std::range_error);  // negative is no byte either
}

TEST(VariantToInt, ByKind) {
  EXPECT_EQ(VariantToInt(Variant(std::int16_t{-3}), 9), -3);
  EXPECT_EQ(VariantToInt(Variant(std::int32_t{70000}), 9), 70000);
  EXPECT_EQ(VariantToInt(Variant(std::int64_t{0x100000005}), 9), 5);  // truncated to 32 bits
  EXPECT_EQ(VariantToInt(Variant(std::uint32_t{0xFFFFFFFF}), 9), -1);
  EXPECT_EQ(VariantToInt(Variant(-2.9), 9), -2);                     // toward zero
  EXPECT_EQ(VariantToInt(Variant(2.9f), 9), 2);
  EXPECT_EQ(VariantToInt(Variant("1,5"), 9), 15);
  EXPECT_EQ(VariantToInt(Variant("x"), 9), 0);  // a bad string gives 0, not the default
  EXPECT_EQ(VariantToInt(Variant(), 9), 9);
  EXPECT_EQ(VariantToInt(Variant(true), 9), 9);
  EXPECT_EQ(VariantToInt(Variant::FromCurrency(3), 9), 9);
  EXPECT_EQ(VariantToInt(Variant::FromDateTime(3), 9), 9);
  EXPECT_EQ(VariantToInt(Variant(u"12"), 9), 9);
  EXPECT_THROW(VariantToInt(Variant(3e9), 0), std::range_error);
  EXPECT_THROW(VariantToInt(Variant(std::nan("")), 0), std::range_error);
  EXPECT_EQ(VariantToInt(Variant(2147483647.9), 0), 2147483647);
}

TEST(VariantToInt, BooleanKindIsRecognised) {
  EXPECT_TRUE(VariantIsBoolean(Variant(false)));
  EXPECT_FALSE(VariantIsBoolean(Variant(0)));
}

class DateTemplate : public ::testing::Test {
protected:
  // Thursday 6 March 2025 09:05:07
  const double moment = EncodeDateTime(2025, 3, 6, 9, 5, 7);
};

TEST_F(DateTemplate, EveryToken) {
  struct Row {
    const char *token;
    const char *expected;
  } rows[] = {
      {"%D%", "6"},        {"%DD%", "06"},      {"%DDD%", "Thu"},   {"%DDDD%", "Thursday"},
      {"%HDDD%", "\xE4"},  {"%HDDDD%", "\xE7\xEE\xE9\xF9\xE9"},
      {"%M%", "3"},        {"%MM%", "03"},      {"%MMM%", "Mar"},   {"%MMMM%", "March"},
      {"%HMMMM%", "\xEE\xF8\xF5"},
      {"%Y%", "25"},       {"%YY%", "25"},      {"%YYYY%", "2025"},
      {"%H%", "9"},        {"%HH%", "09"},      {"%N%", "5"},       {"%NN%", "05"},
      {"%S%", "7"},        {"%SS%", "07"},
      {"#H#", "9"},        {"#HH#", "09"},      {"#M#", "5"},       {"#MM#", "05"},
      {"#S#", "7"},        {"#SS#", "07"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(FormatDateTemplate(std::string("<") + row.token + ">", moment),
              std::string("<") + row.expected + ">")
        << row.token;
}

TEST_F(DateTemplate, TemplatesInUse) {
  EXPECT_EQ(FormatDateTemplate("%DD%/%MM%/%YYYY% #HH#:#MM#:#SS#", moment), "06/03/2025 09:05:07");
  EXPECT_EQ(FormatDateTemplate("%YYYY%-%MM%-%DD%", moment), "2025-03-06");
  EXPECT_EQ(FormatDateTemplate("%Y%/%YY%", EncodeDateTime(2007, 1, 1)), "7/07");
  // Tokens are case-sensitive; text between them is copied.
  EXPECT_EQ(FormatDateTemplate("%dd% 100% #x#", moment), "%dd% 100% #x#");
}

TEST_F(DateTemplate, WeekdayAndMonthNamesEdges) {
  // Sunday 28 December 2025 and Saturday 2 August 2025.
  EXPECT_EQ(FormatDateTemplate("%DDDD% %MMMM% %HDDD%", EncodeDateTime(2025, 12, 28)),
            "Sunday December \xE0");
  EXPECT_EQ(FormatDateTemplate("%DDD% %MMM% %HDDD% %HDDDD%", EncodeDateTime(2025, 8, 2)),
            "Sat Aug \xF9 \xF9\xE1\xFA");
}

TEST_F(DateTemplate, MidnightShowsNoTime) {
  EXPECT_EQ(DateTimeText(EncodeDateTime(2025, 3, 6)), "06/03/2025");
  EXPECT_EQ(DateTimeText(moment), "06/03/2025 09:05");
  EXPECT_EQ(DateTimeText(EncodeDateTime(2025, 3, 6, 0, 0, 1)), "06/03/2025 00:00");
}

TEST_F(DateTemplate, VariantDateTextAndNowText) {
  EXPECT_EQ(VariantDateText(Variant(), true), "");
  EXPECT_EQ(VariantDateText(Variant::FromDateTime(moment), true), "2025-03-06 09:05:07");
  EXPECT_EQ(VariantDateText(Variant::FromDateTime(moment), false), "2025-03-06");
  SetNowOverride([this] { return moment; });
  EXPECT_EQ(NowText(), "06/03/2025 09:05:07");
  SetNowOverride({});
}

} // namespace
