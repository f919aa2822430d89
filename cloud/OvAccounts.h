#pragma once
// Cloud accounts as the settings hive keeps them: one binary value per account
// under the sub-key "Accounts", named by the account ID.
//
// Stored value: AES-128-CBC (PKCS #7, zero IV, the account storage key) of
//   message + HMAC-SHA-256(account MAC key, message)
// where message is a protocol buffer record of five length-delimited fields:
// 1 = 16 random bytes (equal accounts never store equal bytes), 2 = accountId,
// 3 = title, 4 = key (raw bytes), 5 = server.
//
// The two keys are this tool's own; stored accounts can only be read with the
// pair that wrote them, so they must never change.
//
// Failure results: SerializeAccount gives empty bytes only when the system's
// random generator or the cipher fails; DeserializeAccount gives false for
// anything that does not decrypt, authenticate and decode. Nothing throws
// except the settings writes (ESettingsWriteError, see MyRegIniExtended.h).
//
// Thread: the functions are pure and safe anywhere; the hive operations take a
// settings store and are for its (GUI) thread.

#include <functional>
#include <string>
#include <vector>

class TRegIniExtended;

// One cloud account. `key` holds raw key bytes (the user types Base64); `url`
// is the API host of `server`, filled only when an account is loaded.
struct TOvAccount {
  std::string accountId;
  std::string title;
  std::string key;
  std::string server;
  std::string url;

  bool operator==(const TOvAccount&) const = default;
};

// The settings value names and the sub-key of the stored accounts.
inline constexpr const char* kAccountsSection = "Accounts";
inline constexpr const char* kAccountIdValue = "Account ID";
inline constexpr const char* kLegacyAccountKeyValue = "Account Key";
// The server of the older single-account form.
inline constexpr const char* kLegacyAccountServer = "aws-prod-cloud";

// The stored value of an account (url is not stored).
std::string SerializeAccount(const TOvAccount& account);
// Decrypts, checks the MAC and decodes; fills accountId, title, key and server
// (url is left empty). False, with account untouched, on any failure.
bool DeserializeAccount(const std::string& bytes, TOvAccount& account);

// The older single-account key: Base64 of the raw key encrypted with the
// account storage key (AES-128-CBC, PKCS #7, zero IV). Empty when it does not
// decode or decrypt.
std::string DecryptLegacyAccountKey(const std::string& base64Text);
// The inverse, for tests and tools that need a value in the older form.
std::string EncryptLegacyAccountKey(const std::string& rawKey);

// --- the accounts in the settings hive ---

// Writes the account's stored value as "Accounts"/accountId, and removes any
// other value holding a record of the same ID in another letter case. Raises
// ESettingsWriteError when the value cannot be made, and when a write fails
// without a write error handler on the store (false with one); the value
// stored before is then left as it was.
bool WriteStoredAccount(TRegIniExtended& settings, const TOvAccount& account);
// Deletes every value whose record is the account accountId (exact ID, whatever
// the value's name); values that do not decode stay. True when nothing failed.
bool DeleteStoredAccount(TRegIniExtended& settings, const std::string& accountId);
// Every stored value that decodes, in the hive's order; values that do not
// decode are skipped and stay where they are. The ID comes from the record,
// not from the value name.
std::vector<TOvAccount> ReadStoredAccounts(const TRegIniExtended& settings);
// Takes the older single-account values: when "Account Key" decrypts and
// "Account ID" is set, the account (empty title, server kLegacyAccountServer)
// is handed to `save`, and "Account Key" is deleted once save gives true. A key
// that does not decrypt, or has no ID, is left where it is; an empty one goes.
void TakeLegacyAccount(TRegIniExtended& settings, const std::function<bool(TOvAccount)>& save);
