#include "OvAccounts.h"

#include <openssl/crypto.h>

#include "cloud/MyCrypt.h"
#include "support/MyFunctions.h"
#include "support/MyProtoBuf.h"
#include "support/MyRegIniExtended.h"

namespace {

// The tool's own account keys, chosen once at random. Every stored account
// depends on them: changing either makes all stored accounts unreadable.
constexpr unsigned char kAccountStorageKey[16] = {0xB0, 0xBD, 0x57, 0x41, 0xCF, 0xE4, 0xC2, 0x1F,
                                                  0xB5, 0xCD, 0x06, 0xFA, 0xC6, 0xF0, 0xAD, 0x9E};
constexpr unsigned char kAccountMacKey[16] = {0x55, 0x56, 0xAA, 0x37, 0x91, 0x2F, 0x36, 0x93,
                                              0x42, 0x71, 0xA2, 0x78, 0x8A, 0x35, 0xDD, 0xDD};

std::string KeyBytes(const unsigned char (&key)[16]) {
  return std::string(reinterpret_cast<const char*>(key), sizeof key);
}

constexpr std::size_t kMacBytes = 32;
constexpr int kSaltBytes = 16;

std::string Encrypt(const std::string& plain) {
  return AESEncrypt(KeyBytes(kAccountStorageKey), hashNone, plain, padPKCS7, {}, aes128);
}

// Removes the padding only when every pad byte is right. Looking at the last
// byte alone would let an altered final block through whenever it happened to
// decrypt to a last byte of 16 over a block of pure padding.
std::string Decrypt(const std::string& cipher) {
  std::string plain = AESDecrypt(KeyBytes(kAccountStorageKey), hashNone, cipher, padNone, {}, aes128);
  if (plain.empty()) return {};
  const auto padding = static_cast<unsigned char>(plain.back());
  if (padding < 1 || padding > 16 || padding > plain.size()) return {};
  for (std::size_t i = plain.size() - padding; i < plain.size(); ++i)
    if (static_cast<unsigned char>(plain[i]) != padding) return {};
  plain.resize(plain.size() - padding);
  return plain;
}

}  // namespace

std::string SerializeAccount(const TOvAccount& account) {
  const std::string salt = RandomBytes(kSaltBytes);
  if (salt.size() != kSaltBytes) return {};
  const std::string message = EncodeBytesField(1, salt) + EncodeBytesField(2, account.accountId) +
                              EncodeBytesField(3, account.title) + EncodeBytesField(4, account.key) +
                              EncodeBytesField(5, account.server);
  return Encrypt(message + HMACSHA256(KeyBytes(kAccountMacKey), message));
}

bool DeserializeAccount(const std::string& bytes, TOvAccount& account) {
  const std::string plain = Decrypt(bytes);
  if (plain.size() < kMacBytes) return false;
  const std::string message = plain.substr(0, plain.size() - kMacBytes);
  const std::string expected = HMACSHA256(KeyBytes(kAccountMacKey), message);
  // Compared in constant time: the check must not tell how much of a forged
  // MAC was right.
  if (expected.size() != kMacBytes ||
      CRYPTO_memcmp(expected.data(), plain.data() + message.size(), kMacBytes) != 0)
    return false;
  const TProtocolBuffer record(message);
  if (!record.Valid()) return false;
  account.accountId = record.GetValue(2).ToString();
  account.title = record.GetValue(3).ToString();
  account.key = record.GetValue(4).ToString();
  account.server = record.GetValue(5).ToString();
  account.url.clear();
  return true;
}

std::string DecryptLegacyAccountKey(const std::string& base64Text) {
  const std::string cipher = Base64Decode(base64Text);
  return cipher.empty() ? std::string() : Decrypt(cipher);
}

std::string EncryptLegacyAccountKey(const std::string& rawKey) { return Base64Encode(Encrypt(rawKey), true); }

namespace {

// The names of the stored values whose record is an account with this ID;
// values that do not decode are nobody's and never listed.
std::vector<std::string> ValuesOfAccount(const TRegIniExtended& settings, const std::string& accountId,
                                         bool ignoreCase) {
  std::vector<std::string> names;
  const std::string wanted = ignoreCase ? UpperText(accountId) : accountId;
  for (const std::string& name : settings.ReadSection(kAccountsSection)) {
    TOvAccount account;
    if (DeserializeAccount(settings.ReadBinaryString(kAccountsSection, name, {}), account) &&
        (ignoreCase ? UpperText(account.accountId) : account.accountId) == wanted)
      names.push_back(name);
  }
  return names;
}

}  // namespace

bool WriteStoredAccount(TRegIniExtended& settings, const TOvAccount& account) {
  // An empty value (the system gave no random bytes) would replace a good
  // stored account with one that never reads back: refuse like a failed write.
  const std::string stored = SerializeAccount(account);
  if (stored.empty()) throw ESettingsWriteError("The account " + account.accountId + " could not be encrypted");
  if (!settings.WriteBinaryString(kAccountsSection, account.accountId, stored)) return false;
  // Value names ignore letter case, so the write replaced any value named like
  // the ID; a record of the same account under another name (a hand edit)
  // would come back at the next start beside this one.
  bool written = true;
  for (const std::string& name : ValuesOfAccount(settings, account.accountId, true))
    if (UpperText(name) != UpperText(account.accountId)) written &= settings.DeleteKey(kAccountsSection, name);
  return written;
}

bool DeleteStoredAccount(TRegIniExtended& settings, const std::string& accountId) {
  // By the record's ID, not the value's name: the name ignores letter case and
  // may differ from the ID, and a value that does not decode is left alone.
  bool deleted = true;
  for (const std::string& name : ValuesOfAccount(settings, accountId, false))
    deleted &= settings.DeleteKey(kAccountsSection, name);
  return deleted;
}

std::vector<TOvAccount> ReadStoredAccounts(const TRegIniExtended& settings) {
  std::vector<TOvAccount> accounts;
  for (const std::string& name : settings.ReadSection(kAccountsSection)) {
    TOvAccount account;
    if (DeserializeAccount(settings.ReadBinaryString(kAccountsSection, name, {}), account))
      accounts.push_back(std::move(account));
  }
  return accounts;
}

void TakeLegacyAccount(TRegIniExtended& settings, const std::function<bool(TOvAccount)>& save) {
  const std::string keyText = settings.ReadString({}, kLegacyAccountKeyValue, {});
  if (keyText.empty()) {
    settings.DeleteKey({}, kLegacyAccountKeyValue);
    return;
  }
  // A key that does not decrypt, or has no ID to name its account by, is the
  // only copy there is: it stays for a later version or the user to recover.
  const std::string accountId = settings.ReadString({}, kAccountIdValue, {});
  const std::string key = DecryptLegacyAccountKey(keyText);
  if (accountId.empty() || key.empty()) return;
  TOvAccount account;
  account.accountId = accountId;
  account.key = key;
  account.server = kLegacyAccountServer;
  if (save(std::move(account))) settings.DeleteKey({}, kLegacyAccountKeyValue);
}
