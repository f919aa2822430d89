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

TEST(TileFreshness, FromCacheControlAndExpires) {
  const struct {
    const char* cacheControl;
    const char* expires;
    std::int64_t freshFor;
  } rows[] = {
      {"", "", kWeek},                                           // nothing said: a week
      {"max-age=3600", "", 3600},                                // max-age
      {"public, max-age = 60, must-revalidate", "", 60},         // among other directives, spaced
      {"max-age=60", "Thu, 01 Jan 2037 00:00:00 GMT", 60},       // max-age wins over Expires
      {"s-maxage=100", "", kWeek},                               // for shared caches only
      {"no-cache", "", 0},                                       // ask again every time
      {"no-store, max-age=600", "", 0},
      {"", "Fri, 15 Jan 2027 09:00:00 GMT", 3600},               // Expires alone
      {"", "Mon, 01 Jan 2024 00:00:00 GMT", 0},                  // Expires in the past
      {"", "not a date", 0},                                     // unreadable Expires: expired
      {"max-age=99999999999999999999", "", 365 * 24 * 3600},     // absurd ages capped at a year
  };
  for (const auto& row : rows)
    EXPECT_EQ(TileFreshUntil(row.cacheControl, row.expires, kNow) - kNow, row.freshFor)
        << row.cacheControl << " | " << row.expires;
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
