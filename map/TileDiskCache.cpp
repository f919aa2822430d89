#include "TileDiskCache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
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

bool IsTileFile(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.is_regular_file(error) && entry.path().extension() == ".tile";
}

// The HTTP date format, "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 9110 5.6.7);
// the obsolete forms are not sent by tile servers.
std::optional<std::int64_t> HttpDateToUnix(const std::string& text) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char weekday[4] = {}, month[4] = {}, zone[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%3s, %d %3s %d %d:%d:%d %3s", weekday, &day, month, &year, &hour, &minute, &second,
                  zone) != 8 ||
      std::string(zone) != "GMT")
    return std::nullopt;
  const auto found = std::find_if(std::begin(kMonths), std::end(kMonths),
                                  [&](const char* name) { return std::string(name) == month; });
  if (found == std::end(kMonths) || day < 1 || day > 31 || year < 1970 || year > 9999 || hour > 23 || minute > 59 ||
      second > 60)
    return std::nullopt;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = static_cast<int>(found - std::begin(kMonths));
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&parts));
}

}  // namespace

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
  fs::create_directories(path.parent_path(), error);
  if (error) return false;
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

// Counted once, on first need, rather than at start: the folder may hold
// many thousand files and the first need is on the download thread.
void TTileDiskCache::CountOnce() {
  if (m_counted) return;
  m_counted = true;
  m_bytes = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error))
    if (IsTileFile(*it)) m_bytes += it->file_size(error);
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
    if (!IsTileFile(*it)) continue;
    std::error_code fileError;
    File file{it->path(), it->last_write_time(fileError), it->file_size(fileError)};
    if (fileError) continue;
    total += file.size;
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.used < b.used; });
  // Down to 90 %, so that the next few stores do not each scan the folder again.
  const std::uint64_t target = m_maxBytes / 10 * 9;
  for (const File& file : files) {
    if (total <= target) break;
    if (fs::remove(file.path, error)) total -= file.size;
  }
  m_bytes = total;
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
    // Ages beyond a year are taken as a year; the text may be any length.
    const std::int64_t age = digits.size() > 9 ? 365ll * 24 * 3600 : std::min<std::int64_t>(TextToInt64(digits), 365ll * 24 * 3600);
    return nowUnix + age;
  }
  if (!expires.empty()) {
    // An Expires that cannot be read means "already expired" (RFC 9111 5.3).
    const std::optional<std::int64_t> when = HttpDateToUnix(expires);
    return when ? std::max(nowUnix, *when) : nowUnix;
  }
  return nowUnix + kDefaultFreshSeconds;
}
