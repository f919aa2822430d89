#pragma once
// The settings store: one key of the per-user settings hive read and written in the
// manner of an INI file (sections are sub-keys, identifiers are value names), with two
// extra operations that store and read a byte string as a binary value.
//
// Reading never creates anything: a missing section or value gives the default.
// Every write goes to the hive file at once (locked, re-read, replaced atomically; see
// SettingsHive.h). A write that fails throws ESettingsWriteError, naming the file and
// the reason, unless a write error handler is set: it is then handed the error and the
// write gives false. Thread: GUI thread only (one object per thread).

#include "support/SettingsHive.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class TRegIniExtended {
public:
  static constexpr const char *kDefaultKey = "Software\\Qel\\Orvane Monitor";

  // key: the store's key in the hive; the empty section is this key itself.
  // hiveFileName: the hive file; by default the user's (TSettingsHive::DefaultFileName()).
  explicit TRegIniExtended(const std::string &key = kDefaultKey,
                           const std::string &hiveFileName = TSettingsHive::DefaultFileName());

  const std::string &Key() const { return m_key; }
  const std::string &FileName() const { return m_hive.FileName(); }

  // Why the file could not be read whole as it is now (it exists but cannot be
  // opened, or has lines that do not read); empty when it reads or is missing.
  std::string ReadError() const;

  // Takes over failed writes and deletes: called with the error instead of throwing
  // it. An empty handler brings the throwing back.
  using WriteErrorHandler = std::function<void(const ESettingsWriteError &error)>;
  void SetWriteErrorHandler(WriteErrorHandler handler) { m_onWriteError = std::move(handler); }

  // A string or expandable string value without its terminating zero; the default for
  // a missing value or another type.
  std::string ReadString(const std::string &section, const std::string &name,
                         const std::string &defaultValue) const;
  // Each write and delete gives true when the file holds the change (see the top for
  // false).
  bool WriteString(const std::string &section, const std::string &name, const std::string &text);

  // A string value holding a decimal integer (optional sign, 32-bit range), or a 32-bit
  // integer value; the default otherwise.
  std::int32_t ReadInteger(const std::string &section, const std::string &name,
                           std::int32_t defaultValue) const;
  // Stored as the decimal text in a string value.
  bool WriteInteger(const std::string &section, const std::string &name, std::int32_t value);

  // The names of the section's values in stored order; empty for a missing section.
  void ReadSection(const std::string &section, std::vector<std::string> &names) const;
  std::vector<std::string> ReadSection(const std::string &section) const;
  // Name and text of every string value of the section (other types are skipped),
  // e.g. the "Ports" map of "COM<n>" to device paths.
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(
      const std::string &section) const;

  // Deletes the named value (not a sub-key); nothing happens when it does not exist.
  bool DeleteKey(const std::string &section, const std::string &name);

  // The value's bytes whole: for string and expandable string values that includes the
  // terminating zero, binary values as stored. The default for a missing section or value
  // and for other types; the empty byte string for a value of zero length.
  std::string ReadBinaryString(const std::string &section, const std::string &name,
                               const std::string &defaultValue) const;
  // A binary value of exactly these bytes.
  bool WriteBinaryString(const std::string &section, const std::string &name,
                         const std::string &bytes);

  bool SectionExists(const std::string &section) const;
  bool ValueExists(const std::string &section, const std::string &name) const;
  // Raw typed access; ReadValue gives false for a missing section or value.
  bool ReadValue(const std::string &section, const std::string &name, THiveValue &value) const;
  bool WriteValue(const std::string &section, const THiveValue &value);

private:
  std::string SectionPath(const std::string &section) const;
  const THiveValue *FindValue(const std::string &section, const std::string &name) const;
  bool Update(const std::function<void(THiveData &)> &change);

  std::string m_key;
  TSettingsHive m_hive;
  WriteErrorHandler m_onWriteError;
};
