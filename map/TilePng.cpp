#include "TilePng.h"

#include "MapTileProvider.h"

#include <png.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

// The pixels are written as B G R A bytes, which are Qt's 32-bit pixels only
// on a little-endian machine.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "tile decoding assumes a little-endian machine");

namespace {

std::atomic<int> g_liveImages{0};

void FreePixels(void* pixels) {
  std::free(pixels);
  g_liveImages.fetch_sub(1, std::memory_order_relaxed);
}

// Straight alpha to premultiplied, in place, on B G R A bytes.
void Premultiply(unsigned char* pixels, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, pixels += 4) {
    const unsigned alpha = pixels[3];
    if (alpha == 255) continue;
    for (int c = 0; c < 3; ++c) pixels[c] = static_cast<unsigned char>((pixels[c] * alpha + 127) / 255);
  }
}

}  // namespace

QImage DecodePng(std::string_view bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return {};
  const bool hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  if (image.width == 0 || image.height == 0 || image.width > kMaxDecodedSide || image.height > kMaxDecodedSide) {
    png_image_free(&image);
    return {};
  }
  // B G R A in memory is what Qt's 32-bit formats hold on a little-endian
  // machine (0xAARRGGBB words); for an opaque image libpng fills A with 255,
  // which RGB32 requires.
  image.format = PNG_FORMAT_BGRA;
  const int width = static_cast<int>(image.width);
  const int height = static_cast<int>(image.height);
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  auto* pixels = static_cast<unsigned char*>(std::malloc(stride * static_cast<std::size_t>(height)));
  if (!pixels) {
    png_image_free(&image);
    return {};
  }
  if (!png_image_finish_read(&image, nullptr, pixels, static_cast<png_int_32>(stride), nullptr)) {
    std::free(pixels);
    return {};  // finish_read frees the image on failure
  }
  if (hasAlpha) Premultiply(pixels, static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  g_liveImages.fetch_add(1, std::memory_order_relaxed);
  return QImage(pixels, width, height, static_cast<qsizetype>(stride),
                hasAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32, FreePixels, pixels);
}

int LiveDecodedImages() { return g_liveImages.load(std::memory_order_relaxed); }

QImage DecodeTile(std::string_view bytes) {
  QImage image = DecodePng(bytes);
  if (image.width() != kTileSize || image.height() != kTileSize) return {};
  return image;
}
