#pragma once
// PNG decoding for map tiles and the map logo, with libpng.
//
// Opaque images come out as QImage::Format_RGB32 and images with an alpha
// channel as Format_ARGB32_Premultiplied: the two formats the raster painter
// draws without converting. The pixels live in a buffer of our own that the
// QImage frees when its last copy goes (see LiveDecodedImages).
//
// Failure: a null QImage for anything that is not a complete, decodable PNG,
// and for images larger than kMaxDecodedSide on either side (a hostile tile
// server must not make us allocate gigabytes).
//
// Thread: any thread.

#include <QImage>
#include <string_view>

inline constexpr int kMaxDecodedSide = 2048;

QImage DecodePng(std::string_view bytes);

// A map tile: DecodePng of a 256 x 256 picture, else null. A tile of any
// other size would cover its neighbours, or fill the memory cache with
// pictures sixteen times a tile's size.
QImage DecodeTile(std::string_view bytes);

// Number of decoded images whose pixels are still allocated.
int LiveDecodedImages();
