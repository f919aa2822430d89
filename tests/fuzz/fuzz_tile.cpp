// Feeds arbitrary bytes to the tile decoder: either no image, or one within the
// size bound in one of the two formats the painter draws directly. Chunk
// checksums are put right first, or nearly every mutation would stop at the
// first checksum test and never reach the decoding itself.
#include "map/TilePng.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::uint32_t ReadBigEndian(const std::string& bytes, std::size_t at) {
  return (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
         (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint32_t(std::uint8_t(bytes[at + 3]));
}

// Length, type, data, CRC per chunk after the 8-byte signature.
void FixChecksums(std::string& bytes) {
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const std::uint32_t length = ReadBigEndian(bytes, at);
    if (length > bytes.size() - at - 12) break;
    const auto* typeAndData = reinterpret_cast<const Bytef*>(bytes.data() + at + 4);
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, typeAndData, length + 4));
    for (int i = 0; i < 4; ++i) bytes[at + 8 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  FixChecksums(bytes);
  const QImage image = DecodePng(bytes);
  if (image.isNull()) return 0;
  if (image.width() < 1 || image.height() < 1 || image.width() > kMaxDecodedSide || image.height() > kMaxDecodedSide)
    std::abort();
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied) std::abort();
  // Every pixel is readable (the last row included).
  volatile QRgb last = image.pixel(image.width() - 1, image.height() - 1);
  (void)last;
  return 0;
}
