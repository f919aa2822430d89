#pragma once
// The numbers of the gateway parameters the window reads and writes. The SIM
// PIN is write-only (the gateway reads back whether one is set, never which);
// the ICCID comes from the SIM card and cannot be written.

inline constexpr int kOwnerAccount = 1;
inline constexpr int kServerName = 12;
inline constexpr int kSimPin = 61;
inline constexpr int kIccid = 64;
inline constexpr int kApn = 97;
inline constexpr int kWifiSsid = 5640;
inline constexpr int kWifiPassword = 5641;
