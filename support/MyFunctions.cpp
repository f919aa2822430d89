#include "MyFunctions.h"

#include "UniqueFd.h"
#include "VersionRecord.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

const char *LookupEnvironment(const std::string &name) {
  if (const char *value = std::getenv(name.c_str())) return value;
  const std::string upper = UpperText(name);
  for (char **entry = environ; entry && *entry; ++entry) {
    const char *equals = std::strchr(*entry, '=');
    if (!equals) continue;
    if (UpperText(std::string(*entry, static_cast<std::size_t>(equals - *entry))) == upper) return equals + 1;
  }
  if (upper == "TEMP" || upper == "TMP") {
    if (const char *tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir) return tmpdir;
    return "/tmp";
  }
  return nullptr;
}

// Tests whether a candidate record starts at bytes; fills the version text when it does.
bool ReadRecord(const unsigned char *bytes, const unsigned char *magic, std::string &version) {
  using namespace orvane_version;
  if (std::memcmp(bytes, magic, kMagicSize) != 0) return false;
  const unsigned char *numbers = bytes + kMagicSize;
  std::uint32_t stored = 0;
  for (int i = 0; i < 4; ++i) stored |= std::uint32_t{numbers[8 + i]} << (8 * i);
  if (stored != CheckValue(numbers)) return false;
  version.clear();
  for (int i = 0; i < 4; ++i) {
    if (i) version += '.';
    version += std::to_string(numbers[2 * i] | (numbers[2 * i + 1] << 8));
  }
  return true;
}

} // namespace

std::string UpperText(const std::string &text) {
  std::string out = text;
  std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
  return out;
}

std::string LowerText(const std::string &text) {
  std::string out = text;
  std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
  return out;
}

std::string RightText(const std::string &text, int count) {
  if (count <= 0) return {};
  const auto n = static_cast<std::size_t>(count);
  return text.size() <= n ? text : text.substr(text.size() - n);
}

std::string ZeroPad(std::int64_t value, int width) {
  std::string text = std::to_string(value);
  if (width > 0 && text.size() < static_cast<std::size_t>(width))
    text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
  return text;
}

std::string CutToken(std::string &text, char delimiter) {
  const std::size_t position = text.find(delimiter);
  std::string token;
  if (position == std::string::npos) {
    token.swap(text);
  } else {
    token = text.substr(0, position);
    text.erase(0, position + 1);
  }
  return token;
}

std::string TokenAt(const std::string &text, int index, char delimiter) {
  std::string rest = text;
  for (int i = 0; i < index; ++i) {
    if (rest.empty()) return {};
    CutToken(rest, delimiter);
  }
  return CutToken(rest, delimiter);
}

int TokenCount(const std::string &text, char delimiter) {
  if (text.empty()) return 0;
  return 1 + static_cast<int>(std::count(text.begin(), text.end(), delimiter));
}

std::string CollapseBlanks(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string TrimCharSet(const std::string &text, const std::string &charSet) {
  const std::size_t first = text.find_first_not_of(charSet);
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(charSet);
  return text.substr(first, last - first + 1);
}

std::string ReplaceText(const std::string &text, const std::string &oldText,
                        const std::string &newText, bool caseSensitive) {
  if (oldText.empty()) return text;
  const std::string haystack = caseSensitive ? text : UpperText(text);
  const std::string needle = caseSensitive ? oldText : UpperText(oldText);
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t found; (found = haystack.find(needle, start)) != std::string::npos;
       start = found + needle.size()) {
    out.append(text, start, found - start);
    out += newText;
  }
  out.append(text, start, std::string::npos);
  return out;
}

std::string ReplaceChar(const std::string &text, char character, char replacement) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != character) out += c;
    else if (replacement != '\0') out += replacement;
  }
  return out;
}

std::int32_t IntPow(std::int32_t base, std::int32_t exponent) {
  std::uint32_t result = 1;
  for (std::int32_t i = 0; i < exponent; ++i) result *= static_cast<std::uint32_t>(base);
  return static_cast<std::int32_t>(result);
}

std::string ExpandEnvironment(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    const std::size_t close = text.find('%', i + 1);
    if (close == std::string::npos) {
      out.append(text, i, std::string::npos);
      break;
    }
    const std::string name = text.substr(i + 1, close - i - 1);
    const char *value = name.empty() ? nullptr : LookupEnvironment(name);
    if (value) out += value;
    else out.append(text, i, close - i + 1);  // unknown: kept as written
    i = close + 1;
  }
  return out;
}

std::string ProgramFileName() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size())
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

// Streaming scan for the first valid record: each chunk is searched together with the
// last kRecordSize - 1 bytes of the one before, so a record split across reads is seen.
std::string FindVersionRecord(int fd) {
  using namespace orvane_version;
  // The mask is read through a volatile so the compiler cannot fold the plain magic into
  // a constant of this program; the check value is the second guard against that.
  volatile unsigned char maskSource = kMagicMask;
  const unsigned char mask = maskSource;
  std::array<unsigned char, kMagicSize> magic{};
  for (std::size_t i = 0; i < kMagicSize; ++i)
    magic[i] = static_cast<unsigned char>(kMaskedMagic[i] ^ mask);

  constexpr std::size_t kChunk = 1 << 16;
  std::vector<unsigned char> window(kRecordSize - 1 + kChunk);
  std::size_t carried = 0;
  std::string version;
  for (;;) {
    const ssize_t got = ::read(fd, window.data() + carried, kChunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    if (got == 0) return {};
    const std::size_t filled = carried + static_cast<std::size_t>(got);
    std::size_t at = 0;
    while (filled - at >= kRecordSize) {
      const auto *hit = static_cast<const unsigned char *>(
          std::memchr(window.data() + at, magic[0], filled - at - kRecordSize + 1));
      if (!hit) {
        at = filled - kRecordSize + 1;
        break;
      }
      if (ReadRecord(hit, magic.data(), version)) return version;
      at = static_cast<std::size_t>(hit - window.data()) + 1;
    }
    carried = filled - at;
    std::memmove(window.data(), window.data() + at, carried);
  }
}

} // namespace

std::string FileVersionText(const std::string &fileName, bool trim) {
  TUniqueFd file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return {};
  std::string version = FindVersionRecord(file.get());
  if (trim)
    while (version.size() >= 2 && version.compare(version.size() - 2, 2, ".0") == 0)
      version.erase(version.size() - 2);
  return version;
}
