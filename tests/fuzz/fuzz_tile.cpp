// Feeds arbitrary bytes to the tile decoder: either no image, or one within the
// size bound in one of the two formats the painter draws directly.
#include "map/TilePng.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QImage image = DecodePng(std::string_view(reinterpret_cast<const char*>(data), size));
  if (image.isNull()) return 0;
  if (image.width() < 1 || image.height() < 1 || image.width() > kMaxDecodedSide || image.height() > kMaxDecodedSide)
    std::abort();
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied) std::abort();
  // Every pixel is readable (the last row included).
  volatile QRgb last = image.pixel(image.width() - 1, image.height() - 1);
  (void)last;
  return 0;
}
