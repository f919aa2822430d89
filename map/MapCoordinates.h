#pragma once
// Web Mercator arithmetic of the map box and the texts it writes for a
// position. Positions are always latitude first, then longitude, in degrees.
//
// Thread: any thread; pure functions.

#include <string>

enum TMapLocationStyle { mapLoc_None, mapLoc_Decimal, mapLoc_GPS, mapLoc_MinSec };

// Tile coordinates (real) at zoom; 2^zoom tiles a side. Latitudes beyond the
// Mercator limit (about 85.05 degrees) give the edge row, 0 or 2^zoom.
double TileXOfLongitude(double longitude, int zoom);
double TileYOfLatitude(double latitude, int zoom);
double LongitudeOfTileX(double tileX, int zoom);
double LatitudeOfTileY(double tileY, int zoom);

// Latitude from -90 to 90 and longitude from -180 to 180, both inclusive.
bool IsValidPosition(double latitude, double longitude);

// The cursor's text in the given style. Degrees are zero padded (two digits
// of latitude, three of longitude), the degree sign is the byte 0xB0, and the
// decimal point is "." whatever the locale. A position outside the valid
// range (or not a number) gives "": it is no place on the map.
//   mapLoc_Decimal  "31.990553 / 34.756424"
//   mapLoc_GPS      "05\xB0" "30.0000'S / 075\xB0" "15.0000'W"
//   mapLoc_MinSec   "31\xB0" "59'25\"N / 034\xB0" "45'23\"E"
std::string LocationText(TMapLocationStyle style, double latitude, double longitude);

// A point as the map box stores it: "%.7f|%.7f", "." as decimal separator.
std::string PointText(double latitude, double longitude);
// The reverse, by CutToken at "|" and TextToFloat (default 0) of each piece.
void ParsePointText(const std::string& text, double& latitude, double& longitude);
