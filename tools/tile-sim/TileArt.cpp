#include "TileArt.h"

#include <png.h>

#include <array>
#include <csetjmp>

namespace tilesim {

namespace {

// 5 x 7 glyphs for the tile's label; each row's low five bits, leftmost first.
struct Glyph {
  char character;
  std::array<std::uint8_t, 7> rows;
};

constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
};

constexpr int kScale = 2;
constexpr int kGlyphAdvance = 6 * kScale;

void Put(std::vector<std::uint8_t>& rgb, int px, int py, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  if (px < 0 || py < 0 || px >= kTileSide || py >= kTileSide) return;
  const std::size_t at = (static_cast<std::size_t>(py) * kTileSide + static_cast<std::size_t>(px)) * 3;
  rgb[at] = r;
  rgb[at + 1] = g;
  rgb[at + 2] = b;
}

void DrawText(std::vector<std::uint8_t>& rgb, const std::string& text, int left, int top) {
  for (std::size_t n = 0; n < text.size(); ++n) {
    for (const Glyph& glyph : kGlyphs) {
      if (glyph.character != text[n]) continue;
      for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 5; ++column)
          if (glyph.rows[static_cast<std::size_t>(row)] & (0x10 >> column))
            for (int dy = 0; dy < kScale; ++dy)
              for (int dx = 0; dx < kScale; ++dx)
                Put(rgb, left + static_cast<int>(n) * kGlyphAdvance + column * kScale + dx, top + row * kScale + dy,
                    20, 20, 90);
    }
  }
}

}  // namespace

std::vector<std::uint8_t> DrawTile(int zoom, int x, int y) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kTileSide) * kTileSide * 3);
  // Neighbours differ in tint, so a swapped pair is easy to see.
  const std::uint8_t red = static_cast<std::uint8_t>(200 + (x % 3) * 20);
  const std::uint8_t green = static_cast<std::uint8_t>(215 + (y % 3) * 15);
  const std::uint8_t blue = static_cast<std::uint8_t>(((x + y) % 2) ? 200 : 235);
  for (int py = 0; py < kTileSide; ++py) {
    for (int px = 0; px < kTileSide; ++px) {
      const bool frame = px < 2 || py < 2 || px >= kTileSide - 2 || py >= kTileSide - 2;
      const bool grid = px % 32 == 0 || py % 32 == 0;
      if (frame)
        Put(rgb, px, py, 60, 60, 60);
      else if (grid)
        Put(rgb, px, py, 160, 170, 180);
      else
        Put(rgb, px, py, red, green, blue);
    }
  }
  const std::string label = std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y);
  const int width = static_cast<int>(label.size()) * kGlyphAdvance;
  DrawText(rgb, label, (kTileSide - width) / 2, kTileSide / 2 - 7);
  return rgb;
}

namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void NoFlush(png_structp) {}

}  // namespace

std::string EncodePng(const std::vector<std::uint8_t>& rgb, int width, int height) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return {};
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return {};
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int row = 0; row < height; ++row)
    png_write_row(png, const_cast<png_bytep>(rgb.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(width) * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string Corrupted(const std::string& png) {
  // The signature and header survive; the image data turns to noise.
  std::string broken = png.substr(0, png.size() / 2);
  for (std::size_t i = 40; i < broken.size(); i += 7) broken[i] = static_cast<char>(broken[i] ^ 0x5A);
  return broken;
}

}  // namespace tilesim
