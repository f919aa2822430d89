#pragma once
// The "GNSS" tab: the gateway's ":gnss" reports (time, satellites, validity
// and, for a valid fix, the one position marker of the map).
//
// Report argument: "<time>, <latitude><N|S>, <longitude><E|W>, <satellites>
// <unused word> <validity>", e.g.
//   "12:34:56 01/02/2024, 10.5000N, 20.2500E, 7 x valid"
// Only the validity "valid", exactly, is a usable fix. A number that does not
// read gives 0, a missing field an empty text; nothing is reported to the user.
//
// Thread: GUI thread only (the report parser itself is pure).

#include <string>

struct TGnssReport {
  std::string time;        // as received, trimmed
  double latitude = 0;     // degrees, south negative
  double longitude = 0;    // degrees, west negative
  std::string satellites;  // the satellite count text
  std::string validity;    // what follows the second word
  bool IsValidFix() const { return validity == "valid"; }
};

TGnssReport ParseGnssReport(const std::string& text);

// Section and value of the settings that name the tile server of the map
// (an http:// or https:// base URL; without it the built-in server is used).
inline constexpr const char* kEndpointsSection = "Endpoints";
inline constexpr const char* kMapTilesValue = "Map tiles";
// The credit that server's terms ask the map to show (default: the built-in
// server's own credit while that one is used).
inline constexpr const char* kMapAttributionValue = "Map attribution";
