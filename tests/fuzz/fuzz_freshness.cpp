// Feeds arbitrary header values to the tile freshness rules: the input is cut
// at its first NUL into "Cache-Control" and "Expires". Whatever a server
// sends, a tile is fresh from now for at most 30 days, and no-store is never
// stored.
#include "map/TileDiskCache.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = text.find('\0');
  const std::string cacheControl = text.substr(0, cut);
  const std::string expires = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  constexpr std::int64_t kNow = 1'800'000'000;
  const std::int64_t fresh = TileFreshUntil(cacheControl, expires, kNow);
  Check(fresh >= kNow && fresh <= kNow + 30ll * 24 * 3600);
  if (!TileMayBeStored(cacheControl)) Check(fresh == kNow);
  if (const auto when = HttpDateToUnix(expires)) Check(*when >= 0);
  return 0;
}
