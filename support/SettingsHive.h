#pragma once
// The per-user settings hive: registry-like keys holding typed values, kept in one text
// file that a person can read and edit.
//
// File: $ORVANE_SETTINGS_DIR/settings.reg, else $XDG_CONFIG_HOME/Qel/Orvane Monitor/settings.reg,
// else ~/.config/Qel/Orvane Monitor/settings.reg. Format (lines end in LF; CR LF is read too):
//
//   ORVANE SETTINGS HIVE 1
//   ; comment lines start with a semicolon; blank lines are ignored
//   [Software\Qel\Orvane Monitor]
//   "Version"="1.25.8.2"                         string (stored with its terminating zero)
//   "Note"=hex(2):25,54,45,4d,50,25,00           expandable string, raw bytes
//   "Flags"=dword:0000002a                       32-bit integer
//   "Blob"=hex:00,01,ff                          binary ("hex:" alone is zero bytes)
//   "Odd"=hex(7):61,00                           any other type number, raw bytes
//   @="..."                                      the key's unnamed value
//   [Software\Qel\Orvane Monitor\Ports]
//   "COM1"="/dev/pts/3"
//
// Inside quotes: \\ \" \0 \r \n \t and \xHH stand for their bytes; other bytes are as is.
// Key paths use "\" between keys; "%" and control bytes in a key name are written as %HH.
// Long hex lists continue on the next line after a trailing "\".
// Key and value names compare without regard to ASCII letter case.
//
// Every change goes through TSettingsHive::Update: it takes an exclusive flock on
// settings.reg.lock, re-reads the file, applies the change and replaces the file
// atomically (temporary file in the same folder, fsync, rename, fsync of the folder),
// mode 0600. So two running copies never lose each other's changes and a crash leaves
// either the old or the new file. Readers need no lock: rename replaces the file whole.
//
// Thread: a TSettingsHive object belongs to one thread (GUI thread in the program).

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// Type numbers as the original platform's registry numbers them.
enum TRegDataType : std::uint32_t {
  rdString = 1,        // text followed by one zero byte
  rdExpandString = 2,  // the same, with %NAME% references meant to be expanded
  rdBinary = 3,
  rdInteger = 4        // 4 bytes, least significant first
};

struct THiveValue {
  std::string name;
  std::uint32_t type = rdBinary;
  std::string data;  // raw bytes as stored
};

struct THiveKey {
  std::string path;  // as first written, e.g. "Software\Qel\Orvane Monitor"
  std::vector<THiveValue> values;  // in the order they were first written

  const THiveValue *FindValue(const std::string &name) const;
  // Replaces the value of that name (keeping its position) or appends it.
  void SetValue(THiveValue value);
  // False when there was no such value.
  bool RemoveValue(const std::string &name);
};

// The whole hive in memory.
class THiveData {
public:
  // Backslash runs collapsed, backslashes at both ends removed.
  static std::string NormalizePath(const std::string &path);

  const THiveKey *FindKey(const std::string &path) const;
  // Creates the key and all keys above it when missing.
  THiveKey &CreateKey(const std::string &path);
  const std::map<std::string, THiveKey> &Keys() const { return m_keys; }

  std::string Serialize() const;
  // What to do with a line that does not read: refuse the whole text (out is then
  // unchanged), or skip the line and keep the others (out then holds every line
  // that reads). A text without the header line is refused either way (out empty
  // when skipping).
  enum class TBadLines { refuse, skip };
  // False with a message naming the (first) bad line for text that is not a
  // well-formed hive file.
  static bool Parse(const std::string &text, THiveData &out, std::string &error,
                    TBadLines badLines = TBadLines::refuse);

  bool operator==(const THiveData &other) const;

private:
  std::map<std::string, THiveKey> m_keys;  // by upper-cased normalized path
};

// A failed settings write: the message names the file and the reason.
class ESettingsWriteError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TSettingsHive {
public:
  // Does not touch the disk.
  explicit TSettingsHive(std::string fileName = DefaultFileName());

  // See the top of this header; "" only when no home folder can be found.
  static std::string DefaultFileName();

  const std::string &FileName() const { return m_fileName; }

  // The hive as the file holds it now (cached while the file stays the same). A missing
  // file is an empty hive; so is an unreadable one, with LastReadError() set. Of a
  // malformed one (a hand edit) every line that reads is kept and LastReadError() names
  // the first bad line; Update refuses to write over such a file.
  const THiveData &Load() const;
  const std::string &LastReadError() const { return m_lastReadError; }

  // Locks, re-reads, calls change on the fresh data and writes the result when it differs.
  // Throws ESettingsWriteError when the folder, lock or file cannot be written, and when the
  // existing file cannot be read or parsed (it is then left alone rather than overwritten).
  // Nothing half-written stays behind on failure.
  void Update(const std::function<void(THiveData &)> &change);

  // Test hook: called with the temporary file's descriptor once it is written and synced,
  // before it is closed and renamed.
  static void SetBeforeReplaceHook(std::function<void(int tempFd)> hook);

private:
  struct FileIdentity {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileIdentity &) const = default;
  };

  std::string m_fileName;
  mutable THiveData m_cache;
  mutable FileIdentity m_cacheIdentity;
  mutable bool m_cacheValid = false;
  mutable std::string m_lastReadError;
};
