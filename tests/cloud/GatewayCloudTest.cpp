#include "cloud/GatewayCloud.h"

#include <gtest/gtest.h>

namespace {

TEST(GatewayID, EighteenCharactersBeginningWithQel) {
  const struct {
    const char* id;
    bool valid;
  } cases[] = {
      {"QEL000000000000001", true},
      {"QELabcdefghijklmno", true},   // only length and prefix count
      {"QEL00000000000001", false},   // 17
      {"QEL0000000000000001", false}, // 19
      {"qel000000000000001", false},  // prefix is case-sensitive
      {" QEL00000000000001", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsGatewayID(c.id), c.valid) << c.id;
}

TEST(GatewayID, CustomEntryIsUpperCasedAndNeedsFifteenDigits) {
  const struct {
    const char* entry;
    const char* accepted;  // nullptr: refused
  } cases[] = {
      {"qel123456789012345", "QEL123456789012345"},
      {"QEL123456789012345", "QEL123456789012345"},
      {"QEL12345678901234A", nullptr},  // a letter among the digits
      {"QEL12345678901234", nullptr},   // one digit short
      {"XQL123456789012345", nullptr},
      {"QEL12345678901234 ", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> id = CustomGatewayIDFromEntry(c.entry);
    if (c.accepted)
      EXPECT_EQ(id, std::optional<std::string>(c.accepted)) << c.entry;
    else
      EXPECT_FALSE(id.has_value()) << c.entry;
  }
}

TEST(GatewayConfig, DesiredValueShownOnlyWhenItDiffers) {
  EXPECT_EQ(ConfigValueText("5", "5"), "5");
  EXPECT_EQ(ConfigValueText("5", "7"), "5 => 7");
  // No desired value: the arrow with nothing after it.
  EXPECT_EQ(ConfigValueText("5", ""), "5 => ");
  EXPECT_EQ(ConfigValueText("", ""), "");
}

}  // namespace
