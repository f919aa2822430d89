#include "TileDiskCache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/MyConvert.h"
#include "support/MyFunctions.h"

namespace fs = std::filesystem;

namespace {

// "QTILE1\n" then the fresh-until time as 8 little-endian bytes.
const char kMagic[] = "QTILE1\n";
constexpr std::size_t kMagicLength = sizeof kMagic - 1;
constexpr std::size_t kHeaderLength = kMagicLength + 8;
constexpr std::int64_t kDefaultFreshSeconds = 7 * 24 * 3600;

std::string Header(std::int64_t freshUntil) {
  std::string header(kMagic, kMagicLength);
  for (int i = 0; i < 8; ++i) header.push_back(static_cast<char>((static_cast<std::uint64_t>(freshUntil) >> (8 * i)) & 0xFF));
  return header;
}

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// A directory takes a block of its own on the usual file systems; counted so
// that a folder of many small directories cannot grow past the bound unseen.
constexpr std::uint64_t kDirectoryBytes = 4096;
// Freshness is capped: a far-future Expires (or a year's max-age) would pin a
// tile, or a captive portal's picture sent in its place, for good. Thirty days
// is the usual ceiling for street-map tiles.
constexpr std::int64_t kMaxFreshSeconds = 30ll * 24 * 3600;

bool IsTileFile(const fs::path& path) { return path.extension() == ".tile"; }
// Store writes "<y>.tile.tmp<n>" and renames it; one left over is from a crash.
bool IsTemporaryFile(const fs::path& path) { return path.filename().string().find(".tile.tmp") != std::string::npos; }

// Digits only, at most `most` of them, into value; false otherwise. Never
// overflows, whatever the text.
bool ReadNumber(std::string_view text, std::size_t most, int& value) {
  if (text.empty() || text.size() > most) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

// Cuts text at single blanks into at most `count` words; false when there are
// not exactly that many.
bool SplitWords(std::string_view text, std::string_view* words, std::size_t count) {
  std::size_t n = 0;
  while (!text.empty()) {
    if (n == count) return false;
    const std::size_t blank = text.find(' ');
    words[n++] = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
  }
  return n == count;
}

}  // namespace

// The HTTP date format, "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 9110 5.6.7);
// the obsolete forms are not sent by tile servers. Read field by field with
// bounded lengths: a header is whatever a server chose to send.
std::optional<std::int64_t> HttpDateToUnix(const std::string& text) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string_view words[6];
  if (text.size() > 64 || !SplitWords(text, words, 6)) return std::nullopt;
  if (words[0].size() != 4 || words[0].back() != ',' || words[5] != "GMT") return std::nullopt;
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  const std::string_view clock = words[4];
  if (!ReadNumber(words[1], 2, day) || !ReadNumber(words[3], 4, year) || clock.size() != 8 || clock[2] != ':' ||
      clock[5] != ':' || !ReadNumber(clock.substr(0, 2), 2, hour) || !ReadNumber(clock.substr(3, 2), 2, minute) ||
      !ReadNumber(clock.substr(6, 2), 2, second))
    return std::nullopt;
  const auto found = std::find(std::begin(kMonths), std::end(kMonths), words[2]);
  if (found == std::end(kMonths) || day < 1 || day > 31 || year < 1970 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  const int month = static_cast<int>(found - std::begin(kMonths)) + 1;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

TTileDiskCache::TTileDiskCache(fs::path folder, std::uint64_t maxBytes)
    : m_folder(std::move(folder)), m_maxBytes(maxBytes) {}

fs::path TTileDiskCache::DefaultFolder(const std::string& baseUrl) {
  fs::path root;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
    root = cache;
  else if (const char* home = std::getenv("HOME"); home && *home)
    root = fs::path(home) / ".cache";
  else
    return {};
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(baseUrl)));
  return root / "Qel" / "Orvane Monitor" / "tiles" / hash;
}

fs::path TTileDiskCache::TilePath(int zoom, int x, int y) const {
  return m_folder / std::to_string(zoom) / std::to_string(x) / (std::to_string(y) + ".tile");
}

std::optional<TCachedTile> TTileDiskCache::Load(int zoom, int x, int y) {
  std::lock_guard lock(m_mutex);
  CountOnce();
  const fs::path path = TilePath(zoom, x, y);
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  std::string bytes = std::move(content).str();
  if (bytes.size() <= kHeaderLength || std::memcmp(bytes.data(), kMagic, kMagicLength) != 0) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (fs::remove(path, error) && m_bytes >= size) m_bytes -= size;
    return std::nullopt;
  }
  TCachedTile tile;
  std::uint64_t fresh = 0;
  for (int i = 7; i >= 0; --i) fresh = (fresh << 8) | static_cast<unsigned char>(bytes[kMagicLength + i]);
  tile.freshUntil = static_cast<std::int64_t>(fresh);
  tile.png = bytes.substr(kHeaderLength);
  // The modification time is the last use: what is shown stays, what nobody
  // looked at for longest goes first.
  std::error_code error;
  fs::last_write_time(path, fs::file_time_type::clock::now(), error);
  return tile;
}

bool TTileDiskCache::Store(int zoom, int x, int y, const std::string& png, std::int64_t freshUntil) {
  std::lock_guard lock(m_mutex);
  if (m_folder.empty()) return false;
  CountOnce();
  const fs::path path = TilePath(zoom, x, y);
  std::error_code error;
  std::uint64_t newDirectories = 0;
  for (fs::path folder = path.parent_path(); folder != m_folder && !fs::exists(folder, error); folder = folder.parent_path())
    newDirectories += kDirectoryBytes;
  fs::create_directories(path.parent_path(), error);
  if (error) return false;
  m_bytes += newDirectories;
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const fs::path temporary = path.string() + ".tmp" + std::to_string(random() & 0xFFFFFF);
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    const std::string header = Header(freshUntil);
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    file.write(png.data(), static_cast<std::streamsize>(png.size()));
    file.close();
    if (!file) {
      fs::remove(temporary, error);
      return false;
    }
  }
  const auto oldSize = fs::file_size(path, error);
  const bool replaced = !error;
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  if (replaced && m_bytes >= oldSize) m_bytes -= oldSize;
  m_bytes += kHeaderLength + png.size();
  if (m_bytes > m_maxBytes) Trim();
  return true;
}

void TTileDiskCache::Drop(int zoom, int x, int y) {
  std::lock_guard lock(m_mutex);
  std::error_code error;
  const fs::path path = TilePath(zoom, x, y);
  const auto size = fs::file_size(path, error);
  if (!error && fs::remove(path, error) && m_bytes >= size) m_bytes -= size;
}

std::uint64_t TTileDiskCache::SizeOnDisk() {
  std::lock_guard lock(m_mutex);
  CountOnce();
  return m_bytes;
}

// Counted once, on first need rather than at construction: the folder may
// hold many thousand files and the first need is on the download thread.
// Everything under the folder counts, and what a crash left behind (a
// temporary file, an empty directory) goes now.
void TTileDiskCache::CountOnce() {
  if (m_counted) return;
  m_counted = true;
  m_bytes = 0;
  std::vector<fs::path> directories;
  std::error_code error;
  for (fs::recursive_directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code entryError;
    if (it->is_directory(entryError)) {
      directories.push_back(it->path());
      continue;
    }
    if (IsTemporaryFile(it->path()) && fs::remove(it->path(), entryError)) continue;
    // A file gone between listing and reading its size adds nothing (the
    // error size would wrap the count).
    const std::uintmax_t size = it->file_size(entryError);
    if (!entryError) m_bytes += size;
  }
  // Deepest first, so that a directory emptied by its child's removal goes too.
  std::sort(directories.begin(), directories.end(),
            [](const fs::path& a, const fs::path& b) { return a.native().size() > b.native().size(); });
  for (const fs::path& directory : directories)
    if (!fs::remove(directory, error)) m_bytes += kDirectoryBytes;  // remove() takes only empty ones
  if (m_bytes > m_maxBytes) Trim();
}

void TTileDiskCache::Trim() {
  struct File {
    fs::path path;
    fs::file_time_type used;
    std::uint64_t size;
  };
  std::vector<File> files;
  std::uint64_t total = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code fileError;
    if (it->is_directory(fileError)) {
      total += kDirectoryBytes;
      continue;
    }
    File file{it->path(), it->last_write_time(fileError), 0};
    if (fileError) continue;
    const std::uintmax_t size = it->file_size(fileError);
    if (fileError) continue;
    file.size = size;
    total += file.size;
    // Only tiles are evicted; another writer's temporary file is its own.
    if (IsTileFile(file.path)) files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.used < b.used; });
  // Down to 90 %, so that the next few stores do not each scan the folder again.
  const std::uint64_t target = m_maxBytes / 10 * 9;
  for (const File& file : files) {
    if (total <= target) break;
    if (!fs::remove(file.path, error)) continue;
    total -= std::min(total, file.size);
    // The x and zoom directories go with their last tile.
    for (fs::path folder = file.path.parent_path(); folder != m_folder && fs::is_empty(folder, error) && !error;
         folder = folder.parent_path()) {
      if (!fs::remove(folder, error)) break;
      total -= std::min(total, kDirectoryBytes);
    }
  }
  m_bytes = total;
}

bool TileMayBeStored(const std::string& cacheControl) {
  return LowerText(cacheControl).find("no-store") == std::string::npos;
}

std::int64_t TileFreshUntil(const std::string& cacheControl, const std::string& expires, std::int64_t nowUnix) {
  const std::string directives = LowerText(cacheControl);
  if (directives.find("no-store") != std::string::npos || directives.find("no-cache") != std::string::npos)
    return nowUnix;
  // max-age=<seconds>; s-maxage is for shared caches, which we are not.
  for (std::size_t at = directives.find("max-age"); at != std::string::npos; at = directives.find("max-age", at + 1)) {
    if (at > 0 && directives[at - 1] == '-') continue;
    std::size_t value = directives.find_first_not_of(' ', at + 7);
    if (value == std::string::npos || directives[value] != '=') continue;
    value = directives.find_first_not_of(' ', value + 1);
    if (value == std::string::npos) continue;
    const std::size_t end = directives.find_first_not_of("0123456789", value);
    const std::string digits = directives.substr(value, end - value);
    if (digits.empty()) continue;
    // The text may be any length; the cap holds for every age.
    const std::int64_t age = digits.size() > 9 ? kMaxFreshSeconds : std::min<std::int64_t>(TextToInt64(digits), kMaxFreshSeconds);
    return nowUnix + age;
  }
  if (!expires.empty()) {
    // An Expires that cannot be read means "already expired" (RFC 9111 5.3).
    const std::optional<std::int64_t> when = HttpDateToUnix(expires);
    return when ? std::clamp(*when, nowUnix, nowUnix + kMaxFreshSeconds) : nowUnix;
  }
  return nowUnix + kDefaultFreshSeconds;
}
