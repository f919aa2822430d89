#include "cloud/OvAccounts.h"

#include <gtest/gtest.h>

#include <optional>

#include "HiveFixture.h"
#include "cloud/MyCrypt.h"

namespace {

const TOvAccount kAccount{"acme-42", "Acme \xc3\x9f works", std::string("k\0e\xffy", 5), "aws-test-cloud", {}};

TEST(AccountRecord, TwoSavesDifferButBothDecodeToTheAccount) {
  const std::string first = SerializeAccount(kAccount);
  const std::string second = SerializeAccount(kAccount);
  EXPECT_NE(first, second);
  // 16 random bytes, four texts, their keys and lengths, the MAC, padding.
  EXPECT_EQ(first.size() % 16, 0u);
  for (const std::string& stored : {first, second}) {
    TOvAccount decoded;
    ASSERT_TRUE(DeserializeAccount(stored, decoded));
    EXPECT_EQ(decoded, kAccount);
  }
}

TEST(AccountRecord, AnyAlteredByteOfTheLast32IsRejected) {
  const std::string stored = SerializeAccount(kAccount);
  ASSERT_GE(stored.size(), 48u);
  // The last block carries padding and MAC; the one before it, through CBC,
  // flips chosen bytes of the last plain block, which only the MAC can catch.
  for (std::size_t i = stored.size() - 32; i < stored.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80}) {
      std::string altered = stored;
      altered[i] = static_cast<char>(altered[i] ^ flip);
      TOvAccount decoded = kAccount;
      decoded.title = "untouched";
      EXPECT_FALSE(DeserializeAccount(altered, decoded)) << "byte " << i << " flip " << int(flip);
      EXPECT_EQ(decoded.title, "untouched");
    }
  }
}

TEST(AccountRecord, MalformedValuesAreRejected) {
  const std::string stored = SerializeAccount(kAccount);
  const std::string cases[] = {
      "",                                     // empty value
      stored.substr(0, stored.size() - 16),   // a block short
      stored.substr(0, stored.size() - 1),    // not whole blocks
      stored + std::string(16, '\0'),         // a block too many
      std::string("\0", 1),                   // a text value's terminating zero only
  };
  for (const std::string& value : cases) {
    TOvAccount decoded;
    EXPECT_FALSE(DeserializeAccount(value, decoded)) << value.size();
  }
}

using AccountsHive = HiveFixture;

TEST_F(AccountsHive, LegacyAccountIsTakenOverAndOnlyAKeyThatWasTakenIsDeleted) {
  struct Case {
    const char* what;
    std::string accountId;
    std::string keyText;
    bool taken;
    std::string key;
    bool saved = true;  // what the save gives
  };
  const Case cases[] = {
      {"older form", "legacy-1", EncryptLegacyAccountKey("raw key\x01"), true, "raw key\x01"},
      // A key text with line breaks is still Base64.
      {"wrapped Base64", "legacy-1", EncryptLegacyAccountKey("k") + "\r\n", true, "k"},
      // The only copy of a key is never deleted unread.
      {"key that does not decrypt", "legacy-1", "bm90IGEga2V5", false, ""},
      {"no key value", "legacy-1", "", false, ""},
      {"no account ID", "", EncryptLegacyAccountKey("k"), false, ""},
      {"save that failed", "legacy-1", EncryptLegacyAccountKey("k"), true, "k", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      TRegIniExtended settings = Store();
      settings.WriteString({}, kAccountIdValue, c.accountId);
      settings.WriteString({}, kLegacyAccountKeyValue, c.keyText);
    }
    TRegIniExtended settings = Store();
    std::optional<TOvAccount> legacy;
    TakeLegacyAccount(settings, [&](TOvAccount account) {
      // Still there while the account is saved: a failed save loses nothing.
      EXPECT_TRUE(Store().ValueExists({}, kLegacyAccountKeyValue));
      legacy = std::move(account);
      return c.saved;
    });
    ASSERT_EQ(legacy.has_value(), c.taken);
    if (legacy) {
      EXPECT_EQ(legacy->accountId, c.accountId);
      EXPECT_EQ(legacy->title, "");
      EXPECT_EQ(legacy->key, c.key);
      EXPECT_EQ(legacy->server, "aws-prod-cloud");
    }
    const bool kept = !c.keyText.empty() && !(c.taken && c.saved);
    EXPECT_EQ(Store().ReadString({}, kLegacyAccountKeyValue, {}), kept ? c.keyText : "");
    EXPECT_EQ(Store().ReadString({}, kAccountIdValue, "?"), c.accountId);
  }
}

}  // namespace
