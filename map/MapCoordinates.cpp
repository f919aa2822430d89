#include "MapCoordinates.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "support/MyConvert.h"
#include "support/MyFunctions.h"

namespace {

// Fixed-point text with "." as the point, independent of the C locale
// (which the GUI toolkit sets from the environment).
std::string Fixed(double value, int decimals) {
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string();
}

// printf's "%2.4f": fixed with four decimals, padded with blanks to width 2.
std::string Minutes(double value) {
  std::string text = Fixed(value, 4);
  if (text.size() < 2) text.insert(0, 2 - text.size(), ' ');
  return text;
}

const char kDegree = '\xB0';

// Degrees, minutes and seconds of |value|, as the location texts count them.
struct TAngle {
  std::int64_t degrees;
  double minutes;
  std::int64_t seconds;
};

TAngle Split(double value) {
  const double magnitude = std::fabs(value);
  const double degrees = std::trunc(magnitude);
  const double minutes = (magnitude - degrees) * 60;
  const double seconds = std::trunc((minutes - std::trunc(minutes)) * 60);
  return {static_cast<std::int64_t>(degrees), minutes, static_cast<std::int64_t>(seconds)};
}

std::string GpsPart(double value, int width, char positive, char negative) {
  const TAngle angle = Split(value);
  return ZeroPad(angle.degrees, width) + kDegree + Minutes(angle.minutes) + "'" + (value >= 0 ? positive : negative);
}

std::string MinSecPart(double value, int width, char positive, char negative) {
  const TAngle angle = Split(value);
  return ZeroPad(angle.degrees, width) + kDegree + ZeroPad(static_cast<std::int64_t>(angle.minutes), 2) + "'" +
         ZeroPad(angle.seconds, 2) + "\"" + (value >= 0 ? positive : negative);
}

}  // namespace

double TileXOfLongitude(double longitude, int zoom) {
  return std::ldexp(1.0, zoom) * (longitude + 180) / 360;
}

double TileYOfLatitude(double latitude, int zoom) {
  const double n = std::ldexp(1.0, zoom);
  const double radians = latitude * std::numbers::pi / 180;
  const double y = n * (1 - std::log(std::tan(radians) + 1 / std::cos(radians)) / std::numbers::pi) / 2;
  // At the poles the projection runs off to infinity (or NaN).
  if (std::isnan(y)) return latitude > 0 ? 0 : n;
  return std::clamp(y, 0.0, n);
}

double LongitudeOfTileX(double tileX, int zoom) { return tileX / std::ldexp(1.0, zoom) * 360 - 180; }

double LatitudeOfTileY(double tileY, int zoom) {
  return std::atan(std::sinh(std::numbers::pi * (1 - 2 * tileY / std::ldexp(1.0, zoom)))) * 180 / std::numbers::pi;
}

bool IsValidPosition(double latitude, double longitude) {
  return latitude >= -90 && latitude <= 90 && longitude >= -180 && longitude <= 180;
}

std::string LocationText(TMapLocationStyle style, double latitude, double longitude) {
  if (!IsValidPosition(latitude, longitude)) return {};
  switch (style) {
    case mapLoc_Decimal:
      return Fixed(latitude, 6) + " / " + Fixed(longitude, 6);
    case mapLoc_GPS:
      return GpsPart(latitude, 2, 'N', 'S') + " / " + GpsPart(longitude, 3, 'E', 'W');
    case mapLoc_MinSec:
      return MinSecPart(latitude, 2, 'N', 'S') + " / " + MinSecPart(longitude, 3, 'E', 'W');
    case mapLoc_None:
      break;
  }
  return {};
}

std::string PointText(double latitude, double longitude) { return Fixed(latitude, 7) + "|" + Fixed(longitude, 7); }

void ParsePointText(const std::string& text, double& latitude, double& longitude) {
  std::string rest = text;
  latitude = TextToFloat(CutToken(rest, '|'), 0);
  longitude = TextToFloat(CutToken(rest, '|'), 0);
}
