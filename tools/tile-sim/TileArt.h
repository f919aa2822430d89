#pragma once
// The pictures tile-sim serves: a 256 x 256 tile tinted by its position, with
// grid lines every 32 pixels, a dark frame and its own "zoom/x/y" written in
// the middle, so a tile drawn in the wrong place shows at a glance.
//
// Thread: any thread; pure functions.

#include <cstdint>
#include <string>
#include <vector>

namespace tilesim {

inline constexpr int kTileSide = 256;

// Row-major RGB, 3 bytes per pixel.
std::vector<std::uint8_t> DrawTile(int zoom, int x, int y);
// The pixels as a PNG file (8-bit RGB); "" when libpng fails.
std::string EncodePng(const std::vector<std::uint8_t>& rgb, int width, int height);
// A PNG that starts right and then breaks off into garbage.
std::string Corrupted(const std::string& png);

}  // namespace tilesim
