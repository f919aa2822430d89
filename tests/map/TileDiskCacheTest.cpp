// The disk cache of tiles and the PNG decoder it feeds.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "TileFixtures.h"
#include "map/TileDiskCache.h"
#include "map/TilePng.h"

namespace {

constexpr std::int64_t kNow = 1'800'000'000;
constexpr std::int64_t kWeek = 7 * 24 * 3600;
constexpr std::int64_t kThirtyDays = 30 * 24 * 3600;

TEST(TileFreshness, FromCacheControlAndExpires) {
  const struct {
    const char* cacheControl;
    const char* expires;
    std::int64_t freshFor;
    bool stored;
  } rows[] = {
      {"", "", kWeek, true},                                           // nothing said: a week
      {"max-age=3600", "", 3600, true},                                // max-age
      {"public, max-age = 60, must-revalidate", "", 60, true},         // among other directives, spaced
      {"max-age=60", "Thu, 01 Jan 2037 00:00:00 GMT", 60, true},       // max-age wins over Expires
      {"s-maxage=100", "", kWeek, true},                               // for shared caches only
      {"no-cache", "", 0, true},                                       // ask again every time
      {"no-store, max-age=600", "", 0, false},                         // never on disk
      {"private, No-Store", "", 0, false},
      {"", "Fri, 15 Jan 2027 09:00:00 GMT", 3600, true},               // Expires alone
      {"", "Mon, 01 Jan 2024 00:00:00 GMT", 0, true},                  // Expires in the past
      {"", "not a date", 0, true},                                     // unreadable Expires: expired
      {"max-age=31536000", "", kThirtyDays, true},                     // a year's age is capped
      {"max-age=99999999999999999999", "", kThirtyDays, true},         // absurd ages too
      {"", "Fri, 31 Dec 9999 23:59:59 GMT", kThirtyDays, true},        // so is a far Expires
      {"", "Fri, 15 Jan 99999999999999999999 09:00:00 GMT", 0, true},  // long digit runs do not read
      {"", "Fri, 99999999999 Jan 2027 09:00:00 GMT", 0, true},
      {"", "Fri, 15 Jan 2027 09:00:00 GMT trailing", 0, true},
      {"", "Fri, 15 Jan 2027 9:00:00 GMT", 0, true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TileFreshUntil(row.cacheControl, row.expires, kNow) - kNow, row.freshFor)
        << row.cacheControl << " | " << row.expires;
    EXPECT_EQ(TileMayBeStored(row.cacheControl), row.stored) << row.cacheControl;
  }
}

TEST(TileDiskCache, RoundTripAndDamagedFiles) {
  QTemporaryDir folder;
  TTileDiskCache cache(folder.path().toStdString());
  EXPECT_FALSE(cache.Load(14, 1, 2).has_value());
  ASSERT_TRUE(cache.Store(14, 1, 2, "PNGBYTES", kNow));
  auto tile = cache.Load(14, 1, 2);
  ASSERT_TRUE(tile.has_value());
  EXPECT_EQ(tile->png, "PNGBYTES");
  EXPECT_EQ(tile->freshUntil, kNow);
  // A file cut short inside its header is removed, not returned.
  const auto path = std::filesystem::path(folder.path().toStdString()) / "14" / "1" / "2.tile";
  std::filesystem::resize_file(path, 5);
  EXPECT_FALSE(cache.Load(14, 1, 2).has_value());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TileDiskCache, SizeBoundEvictsLeastRecentlyUsed) {
  QTemporaryDir folder;
  const std::string body(10'000, 'x');
  TTileDiskCache cache(folder.path().toStdString(), 100'000);
  for (int y = 0; y < 9; ++y) {
    ASSERT_TRUE(cache.Store(10, 0, y, body, kNow));
    // File times must differ for "least recently used" to mean something.
    const auto path = std::filesystem::path(folder.path().toStdString()) / "10" / "0" / (std::to_string(y) + ".tile");
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(20 - y));
  }
  ASSERT_TRUE(cache.Load(10, 0, 0).has_value());  // the oldest, used again now
  for (int y = 9; y < 12; ++y) ASSERT_TRUE(cache.Store(10, 0, y, body, kNow));
  EXPECT_LE(cache.SizeOnDisk(), 100'000u);
  // A second cache on the folder counts what is really there.
  EXPECT_LE(TTileDiskCache(folder.path().toStdString(), 100'000).SizeOnDisk(), 100'000u);
  EXPECT_TRUE(cache.Load(10, 0, 0).has_value());
  EXPECT_FALSE(cache.Load(10, 0, 1).has_value());
  EXPECT_TRUE(cache.Load(10, 0, 11).has_value());
}

// Everything under the folder counts against the bound, and what a crash left
// (a temporary file, empty directories) goes at the first use.
TEST(TileDiskCache, CountsEverythingAndClearsWhatACrashLeft) {
  QTemporaryDir folder;
  const std::filesystem::path root(folder.path().toStdString());
  ASSERT_TRUE(TTileDiskCache(root).Store(14, 1, 2, std::string(1000, 'p'), kNow));
  const auto tileBytes = std::filesystem::file_size(root / "14" / "1" / "2.tile");
  std::ofstream(root / "14" / "1" / "3.tile.tmp123") << std::string(5000, 't');
  std::ofstream(root / "notes") << std::string(500, 'n');
  std::filesystem::create_directories(root / "15" / "7");
  TTileDiskCache cache(root);
  // The tile, the stray file, and the two directories that hold the tile.
  EXPECT_EQ(cache.SizeOnDisk(), tileBytes + 500 + 2 * 4096);
  EXPECT_FALSE(std::filesystem::exists(root / "14" / "1" / "3.tile.tmp123"));
  EXPECT_FALSE(std::filesystem::exists(root / "15"));
  // A store into new directories counts them too.
  ASSERT_TRUE(cache.Store(16, 9, 9, std::string(1000, 'p'), kNow));
  EXPECT_EQ(cache.SizeOnDisk(), 2 * tileBytes + 500 + 4 * 4096);
}

TEST(TilePng, DecodesTilesAndRefusesWhatIsNotOne) {
  const std::string good = TilePngBytes();
  const QImage tile = DecodePng(good);
  ASSERT_FALSE(tile.isNull());
  EXPECT_EQ(tile.format(), QImage::Format_RGB32);
  EXPECT_EQ(tile.pixel(100, 1), qRgb(60, 60, 60));
  const std::vector<std::uint8_t> wide(3000 * 3, 200);
  const struct {
    const char* what;
    std::string bytes;
  } refused[] = {
      {"empty", ""},
      {"text", "<html>Not found</html>"},
      {"cut short", good.substr(0, good.size() / 2)},
      {"corrupted", tilesim::Corrupted(good)},
      {"too large", tilesim::EncodePng(wide, 3000, 1)},
  };
  for (const auto& row : refused) EXPECT_TRUE(DecodePng(row.bytes).isNull()) << row.what;
}

}  // namespace
