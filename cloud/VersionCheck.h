#pragma once
// The weekly software version check: what the settings remember about it and
// the rules that decide when to ask and what to show. The request itself and
// the panel belong to the main window.
//
// Settings values of the program's root key:
//   "Version"            the own version seen at the last start
//   "Version available"  body of the last successful version file answer
//   "Version check"      day of the last check (whole days since 30 Dec 1899)
//
// Thread: GUI thread (the settings store's). Nothing here throws except the
// settings writes (ESettingsWriteError).

#include <cstddef>
#include <cstdint>
#include <string>

class TRegIniExtended;

inline constexpr const char* kVersionValue = "Version";
inline constexpr const char* kVersionAvailableValue = "Version available";
inline constexpr const char* kVersionCheckValue = "Version check";

// The host that publishes the version file and the download: the tool's own
// value, overridable by "Endpoints"/kVersionHostValue (host or host:port).
inline constexpr const char* kDefaultVersionHost = "www.orvane.cloud";
inline constexpr const char* kVersionHostValue = "Version host";

// Bounds of the version file request, and the longest answer kept in the settings
// (the file holds one version text; anything longer is not one).
inline constexpr std::int32_t kVersionDeadlineMs = 30000;
inline constexpr std::size_t kVersionMaxAnswerBytes = 64 * 1024;
inline constexpr std::size_t kMaxStoredVersionBytes = 256;

std::string VersionHost(const TRegIniExtended& settings);
std::string VersionFileURL(const TRegIniExtended& settings);
std::string DownloadURL(const TRegIniExtended& settings);

enum TVersionState {
  vsUnknown,  // nothing published is known
  vsUpToDate, // the published version is the own one
  vsNewer,    // another version (older ones too) is published
};

// A new own version forgets the previous check ("Version" rewritten, "Version
// available" and "Version check" deleted); then the state of the stored answer,
// compared byte for byte with the own version.
TVersionState RefreshVersionState(TRegIniExtended& settings, const std::string& ownVersion);

// Today as a whole local day number, from the replaceable clock.
int TodayNumber();

// Due when forced, more than 6 days after the last check (never checked
// counts as day 0), or when the stored day lies after today. When due, "Version check" := today, so a failed check
// waits a week too; true tells the caller to send the request.
bool ClaimVersionCheck(TRegIniExtended& settings, int today, bool force);

// A 200 answer with a body of at most kMaxStoredVersionBytes is stored as "Version
// available" (true); anything else changes nothing (false).
bool StoreVersionAnswer(TRegIniExtended& settings, int statusCode, const std::string& body);
