#include "SettingsHive.h"

#include "MyFunctions.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kHeader[] = "ORVANE SETTINGS HIVE 1";
const char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kHexLineWidth = 77;

std::mutex g_hookMutex;
std::function<void(int)> g_beforeReplaceHook;

bool SameName(const std::string &a, const std::string &b) {
  return a.size() == b.size() && UpperText(a) == UpperText(b);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendHexByte(std::string &out, unsigned char b) {
  out += kHexDigits[b >> 4];
  out += kHexDigits[b & 0x0F];
}

std::string Quote(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '"': out += "\\\""; break;
    case '\0': out += "\\0"; break;
    case '\r': out += "\\r"; break;
    case '\n': out += "\\n"; break;
    case '\t': out += "\\t"; break;
    default:
      if (b < 0x20 || b == 0x7F) {
        out += "\\x";
        AppendHexByte(out, b);
      } else {
        out += c;
      }
    }
  }
  return out + '"';
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string &text, std::size_t &pos, std::string &out, std::string &error) {
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= text.size()) break;
    switch (text[pos]) {
    case '\\': out += '\\'; break;
    case '"': out += '"'; break;
    case '0': out += '\0'; break;
    case 'r': out += '\r'; break;
    case 'n': out += '\n'; break;
    case 't': out += '\t'; break;
    case 'x': {
      const int high = pos + 1 < text.size() ? HexValue(text[pos + 1]) : -1;
      const int low = pos + 2 < text.size() ? HexValue(text[pos + 2]) : -1;
      if (high < 0 || low < 0) {
        error = "bad \\x escape";
        return false;
      }
      out += static_cast<char>(high * 16 + low);
      pos += 2;
      break;
    }
    default: error = std::string("unknown escape \\") + text[pos]; return false;
    }
  }
  error = "missing closing quote";
  return false;
}

std::string EncodeKeyPath(const std::string &path) {
  std::string out;
  for (char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '%' || b < 0x20 || b == 0x7F) {
      out += '%';
      AppendHexByte(out, b);
    } else {
      out += c;
    }
  }
  return out;
}

bool DecodeKeyPath(const std::string &text, std::string &out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

void AppendHexList(std::string &out, std::string line, const std::string &data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::string item;
    AppendHexByte(item, static_cast<unsigned char>(data[i]));
    if (i + 1 < data.size()) item += ',';
    if (i > 0 && line.size() + item.size() > kHexLineWidth) {
      out += line + "\\\n";
      line = "  ";
    }
    line += item;
  }
  out += line + '\n';
}

void AppendValue(std::string &out, const THiveValue &value) {
  std::string line = value.name.empty() ? std::string("@") : Quote(value.name);
  line += '=';
  const std::string &data = value.data;
  if (value.type == rdString && !data.empty() && data.back() == '\0') {
    out += line + Quote(data.substr(0, data.size() - 1)) + '\n';
  } else if (value.type == rdInteger && data.size() == 4) {
    line += "dword:";
    for (int i = 3; i >= 0; --i) AppendHexByte(line, static_cast<unsigned char>(data[i]));
    out += line + '\n';
  } else if (value.type == rdBinary) {
    AppendHexList(out, line + "hex:", data);
  } else {
    char type[24];
    std::snprintf(type, sizeof type, "hex(%x):", value.type);
    AppendHexList(out, line + type, data);
  }
}

bool ParseHexList(const std::string &text, std::string &data, std::string &error) {
  data.clear();
  std::string rest = text;
  while (!rest.empty()) {
    const std::string item = TrimCharSet(CutToken(rest, ','), " ");
    const int high = item.size() == 2 ? HexValue(item[0]) : -1;
    const int low = item.size() == 2 ? HexValue(item[1]) : -1;
    if (high < 0 || low < 0) {
      error = "bad hex byte \"" + item + "\"";
      return false;
    }
    data += static_cast<char>(high * 16 + low);
  }
  return true;
}

bool ParseValueData(const std::string &text, THiveValue &value, std::string &error) {
  if (!text.empty() && text[0] == '"') {
    std::size_t pos = 0;
    std::string unquoted;
    if (!Unquote(text, pos, unquoted, error)) return false;
    if (TrimCharSet(text.substr(pos), " ") != "") {
      error = "text after the closing quote";
      return false;
    }
    value.type = rdString;
    value.data = unquoted + '\0';
    return true;
  }
  if (text.rfind("dword:", 0) == 0) {
    const std::string digits = text.substr(6);
    std::uint32_t number = 0;
    if (digits.size() != 8) {
      error = "dword needs 8 hex digits";
      return false;
    }
    for (char c : digits) {
      const int v = HexValue(c);
      if (v < 0) {
        error = "bad dword digits";
        return false;
      }
      number = number * 16 + static_cast<std::uint32_t>(v);
    }
    value.type = rdInteger;
    value.data.clear();
    for (int i = 0; i < 4; ++i) value.data += static_cast<char>(number >> (8 * i));
    return true;
  }
  if (text.rfind("hex:", 0) == 0) {
    value.type = rdBinary;
    return ParseHexList(text.substr(4), value.data, error);
  }
  if (text.rfind("hex(", 0) == 0) {
    const std::size_t close = text.find("):");
    if (close == std::string::npos || close == 4 || close > 12) {
      error = "bad hex(type)";
      return false;
    }
    std::uint32_t type = 0;
    for (std::size_t i = 4; i < close; ++i) {
      const int v = HexValue(text[i]);
      if (v < 0) {
        error = "bad hex(type)";
        return false;
      }
      type = type * 16 + static_cast<std::uint32_t>(v);
    }
    value.type = type;
    return ParseHexList(text.substr(close + 2), value.data, error);
  }
  error = "unknown value form";
  return false;
}

std::string ErrnoText(int error) { return std::strerror(error); }

[[noreturn]] void ThrowWriteError(const std::string &fileName, const std::string &reason) {
  throw ESettingsWriteError("Cannot write the settings file \"" + fileName + "\": " + reason);
}

std::string DirectoryOf(const std::string &fileName) {
  const std::size_t slash = fileName.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return fileName.substr(0, slash);
}

std::string BaseNameOf(const std::string &fileName) {
  const std::size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// mkdir -p with mode 0700 for the folders it creates; errno-style result (0 = fine).
int MakeDirectories(const std::string &path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const std::string parent = DirectoryOf(path);
  if (parent != path && parent != "." && parent != "/") {
    if (int error = MakeDirectories(parent)) return error;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return 0;
}

bool WriteAll(int fd, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// 0 and the text, ENOENT for a missing file, or another errno.
int ReadWholeFile(const std::string &fileName, std::string &text, struct stat &st) {
  TUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  if (::fstat(fd.get(), &st) != 0) return errno;
  text.clear();
  char buffer[1 << 14];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

} // namespace

const THiveValue *THiveKey::FindValue(const std::string &name) const {
  for (const auto &value : values)
    if (SameName(value.name, name)) return &value;
  return nullptr;
}

void THiveKey::SetValue(THiveValue value) {
  for (auto &existing : values)
    if (SameName(existing.name, value.name)) {
      existing.type = value.type;
      existing.data = std::move(value.data);
      return;
    }
  values.push_back(std::move(value));
}

bool THiveKey::RemoveValue(const std::string &name) {
  for (auto it = values.begin(); it != values.end(); ++it)
    if (SameName(it->name, name)) {
      values.erase(it);
      return true;
    }
  return false;
}

std::string THiveData::NormalizePath(const std::string &path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

const THiveKey *THiveData::FindKey(const std::string &path) const {
  const auto it = m_keys.find(UpperText(NormalizePath(path)));
  return it == m_keys.end() ? nullptr : &it->second;
}

THiveKey &THiveData::CreateKey(const std::string &path) {
  const std::string normalized = NormalizePath(path);
  THiveKey *key = nullptr;
  for (std::size_t end = 0; end != std::string::npos;) {
    end = normalized.find('\\', end + 1);
    const std::string prefix = normalized.substr(0, end);
    auto [it, inserted] = m_keys.try_emplace(UpperText(prefix));
    if (inserted) it->second.path = prefix;
    key = &it->second;
  }
  return *key;
}

std::string THiveData::Serialize() const {
  std::string out = std::string(kHeader) + "\n";
  for (const auto &[upper, key] : m_keys) {
    out += "\n[" + EncodeKeyPath(key.path) + "]\n";
    for (const auto &value : key.values) AppendValue(out, value);
  }
  return out;
}

bool THiveData::Parse(const std::string &text, THiveData &out, std::string &error,
                      TBadLines badLines) {
  THiveData data;
  THiveKey *current = nullptr;
  // After a key line that does not read, its values have nowhere to go.
  bool inBadKey = false;
  bool headerSeen = false;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  std::size_t badLineCount = 0;
  std::string firstError;
  auto nextLine = [&](std::string &line) {
    if (start >= text.size()) return false;
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    ++lineNumber;
    return true;
  };
  // One line (with its continuations); the reason when it cannot be read.
  auto parseLine = [&](const std::string &trimmed) -> std::string {
    if (trimmed[0] == '[') {
      std::string path;
      inBadKey = trimmed.back() != ']' || !DecodeKeyPath(trimmed.substr(1, trimmed.size() - 2), path);
      if (inBadKey) return "bad key line";
      // "[]" is the hive's root: the key an empty key path names.
      current = &data.CreateKey(path);
      return {};
    }
    if (trimmed[0] != '"' && trimmed[0] != '@') return "unknown line";
    if (inBadKey) return "value of a key that cannot be read";
    if (!current) return "value before the first key";
    THiveValue value;
    std::size_t pos = 1;
    std::string reason;
    if (trimmed[0] == '"') {
      pos = 0;
      if (!Unquote(trimmed, pos, value.name, reason)) return reason;
    }
    if (pos >= trimmed.size() || trimmed[pos] != '=') return "\"=\" expected";
    std::string dataText = trimmed.substr(pos + 1);
    // Hex lists may continue on following lines after a trailing backslash.
    while (dataText.rfind("hex", 0) == 0 && !dataText.empty() && dataText.back() == '\\') {
      dataText.pop_back();
      std::string continuation;
      if (!nextLine(continuation)) return "hex list ends at the end of the file";
      dataText += TrimCharSet(continuation, " \t");
    }
    if (!ParseValueData(dataText, value, reason)) return reason;
    current->SetValue(std::move(value));
    return {};
  };

  std::string line;
  while (nextLine(line)) {
    const std::string trimmed = TrimCharSet(line, " \t");
    if (trimmed.empty() || trimmed[0] == ';') continue;
    const std::size_t firstLine = lineNumber;
    std::string reason;
    if (!headerSeen) {
      // Without its header the text is no hive at all: nothing of it is read.
      if (trimmed != kHeader) {
        error = "line " + std::to_string(lineNumber) + ": not a settings hive (first line must be \"" +
                std::string(kHeader) + "\")";
        if (badLines == TBadLines::skip) out = THiveData();
        return false;
      }
      headerSeen = true;
      continue;
    }
    reason = parseLine(trimmed);
    if (reason.empty()) continue;
    reason = "line " + std::to_string(firstLine) + ": " + reason;
    if (badLines == TBadLines::refuse) {
      error = reason;
      return false;
    }
    if (badLineCount++ == 0) firstError = reason;
  }
  if (!headerSeen && TrimCharSet(text, " \t\r\n") != "") {
    error = "line " + std::to_string(lineNumber) + ": not a settings hive";
    if (badLines == TBadLines::skip) out = THiveData();
    return false;
  }
  if (badLineCount > 0) {
    error = firstError;
    if (badLineCount > 1) error += " (and " + std::to_string(badLineCount - 1) + " more lines)";
    out = std::move(data);
    return false;
  }
  out = std::move(data);
  return true;
}

bool THiveData::operator==(const THiveData &other) const {
  if (m_keys.size() != other.m_keys.size()) return false;
  for (auto a = m_keys.begin(), b = other.m_keys.begin(); a != m_keys.end(); ++a, ++b) {
    if (a->first != b->first || a->second.path != b->second.path ||
        a->second.values.size() != b->second.values.size())
      return false;
    for (std::size_t i = 0; i < a->second.values.size(); ++i) {
      const THiveValue &x = a->second.values[i], &y = b->second.values[i];
      if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
    }
  }
  return true;
}

TSettingsHive::TSettingsHive(std::string fileName) : m_fileName(std::move(fileName)) {}

std::string TSettingsHive::DefaultFileName() {
  if (const char *dir = std::getenv("ORVANE_SETTINGS_DIR"); dir && *dir)
    return std::string(dir) + "/settings.reg";
  std::string base;
  if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else {
    std::string home;
    if (const char *h = std::getenv("HOME"); h && *h) {
      home = h;
    } else {
      passwd entry{};
      passwd *found = nullptr;
      std::string buffer(16384, '\0');
      if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        home = found->pw_dir;
    }
    if (home.empty()) return {};
    base = home + "/.config";
  }
  return base + "/Qel/Orvane Monitor/settings.reg";
}

const THiveData &TSettingsHive::Load() const {
  struct stat st{};
  FileIdentity identity;
  int statError = 0;
  if (::stat(m_fileName.c_str(), &st) != 0) statError = errno;
  else
    identity = {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                static_cast<std::uint64_t>(st.st_size),
                static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  if (m_cacheValid && identity == m_cacheIdentity) return m_cache;

  m_cache = THiveData();
  m_lastReadError.clear();
  m_cacheValid = false;
  if (!identity.exists) {
    m_cacheIdentity = identity;
    m_cacheValid = statError == ENOENT;
    if (statError != ENOENT) m_lastReadError = m_fileName + ": " + ErrnoText(statError);
    return m_cache;
  }
  std::string text;
  if (const int error = ReadWholeFile(m_fileName, text, st)) {
    m_lastReadError = m_fileName + ": " + ErrnoText(error);
    return m_cache;
  }
  // The identity of what was actually read, in case the file was replaced in between.
  identity = {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
              static_cast<std::uint64_t>(st.st_size),
              static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  // A hand edit gone wrong costs only its own lines: the rest is read.
  std::string error;
  if (!THiveData::Parse(text, m_cache, error, THiveData::TBadLines::skip))
    m_lastReadError = m_fileName + ": " + error;
  m_cacheIdentity = identity;
  m_cacheValid = true;
  return m_cache;
}

void TSettingsHive::Update(const std::function<void(THiveData &)> &change) {
  const std::string directory = DirectoryOf(m_fileName);
  const std::string baseName = BaseNameOf(m_fileName);
  if (m_fileName.empty() || baseName.empty()) ThrowWriteError(m_fileName, "no file name");
  if (const int error = MakeDirectories(directory)) ThrowWriteError(m_fileName, ErrnoText(error));

  const std::string lockName = m_fileName + ".lock";
  TUniqueFd lock(::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock.valid()) ThrowWriteError(m_fileName, "lock file: " + ErrnoText(errno));
  while (::flock(lock.get(), LOCK_EX) != 0)
    if (errno != EINTR) ThrowWriteError(m_fileName, "lock: " + ErrnoText(errno));

  // Under the lock nobody else is writing, so temporaries left by a writer that died
  // (killed between creating and renaming) can go.
  const std::string tempPrefix = baseName + ".tmp-";
  if (DIR *dir = ::opendir(directory.c_str())) {
    while (dirent *entry = ::readdir(dir))
      if (std::strncmp(entry->d_name, tempPrefix.c_str(), tempPrefix.size()) == 0)
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
    ::closedir(dir);
  }

  // Re-read under the lock: another running copy may have changed the file since we
  // last looked, and its changes must survive ours.
  THiveData data;
  std::string text;
  struct stat st{};
  bool existed = true;
  if (const int error = ReadWholeFile(m_fileName, text, st)) {
    if (error != ENOENT) ThrowWriteError(m_fileName, "reading it first: " + ErrnoText(error));
    existed = false;
  }
  std::string parseError;
  if (existed && !THiveData::Parse(text, data, parseError))
    ThrowWriteError(m_fileName, "it is not a readable settings hive, so it is left alone (" +
                                    parseError + ")");
  const THiveData before = data;
  change(data);
  if (existed && data == before) return;

  const std::string newText = data.Serialize();
  std::string tempName = directory + "/" + tempPrefix + "XXXXXX";
  TUniqueFd temp(::mkostemp(tempName.data(), O_CLOEXEC));
  if (!temp.valid()) ThrowWriteError(m_fileName, "temporary file: " + ErrnoText(errno));
  auto failTemp = [&](const std::string &what, int error) {
    temp.reset();
    ::unlink(tempName.c_str());
    ThrowWriteError(m_fileName, what + ErrnoText(error));
  };
  if (::fchmod(temp.get(), 0600) != 0) failTemp("", errno);
  if (!WriteAll(temp.get(), newText)) failTemp("", errno);
  if (::fsync(temp.get()) != 0) failTemp("", errno);
  {
    std::function<void(int)> hook;
    {
      std::lock_guard guard(g_hookMutex);
      hook = g_beforeReplaceHook;
    }
    if (hook) hook(temp.get());
  }
  if (::close(temp.release()) != 0) failTemp("", errno);
  if (::rename(tempName.c_str(), m_fileName.c_str()) != 0) failTemp("", errno);
  // The rename is durable only once the folder itself is synced. The new file is in
  // place by now and every reader sees it, so a failed sync is no failed write.
  TUniqueFd dirFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.valid() || ::fsync(dirFd.get()) != 0)
    std::fprintf(stderr, "Warning: the settings file \"%s\" was written, but syncing its folder failed: %s\n",
                 m_fileName.c_str(), ErrnoText(errno).c_str());

  m_cacheValid = false;
  m_cache = std::move(data);
  if (::stat(m_fileName.c_str(), &st) == 0) {
    m_cacheIdentity = {true, static_cast<std::uint64_t>(st.st_dev),
                       static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
                       static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    m_cacheValid = true;
  }
  m_lastReadError.clear();
}

void TSettingsHive::SetBeforeReplaceHook(std::function<void(int tempFd)> hook) {
  std::lock_guard guard(g_hookMutex);
  g_beforeReplaceHook = std::move(hook);
}
