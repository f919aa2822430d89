#include "VersionCheck.h"

#include <cmath>
#include <cstdint>

#include "support/Clock.h"
#include "support/MyRegIniExtended.h"

namespace {

constexpr const char* kEndpointsSection = "Endpoints";
constexpr int kDaysBetweenChecks = 6;

}  // namespace

std::string VersionHost(const TRegIniExtended& settings) {
  const std::string host = settings.ReadString(kEndpointsSection, kVersionHostValue, {});
  return host.empty() ? std::string(kDefaultVersionHost) : host;
}

std::string VersionFileURL(const TRegIniExtended& settings) {
  return "https://" + VersionHost(settings) + "/files/OrvaneMonitor.ver";
}

std::string DownloadURL(const TRegIniExtended& settings) {
  return "https://" + VersionHost(settings) + "/files/OrvaneMonitor.zip";
}

TVersionState RefreshVersionState(TRegIniExtended& settings, const std::string& ownVersion) {
  if (settings.ReadString({}, kVersionValue, {}) != ownVersion) {
    settings.WriteString({}, kVersionValue, ownVersion);
    settings.DeleteKey({}, kVersionAvailableValue);
    settings.DeleteKey({}, kVersionCheckValue);
  }
  const std::string available = settings.ReadString({}, kVersionAvailableValue, {});
  if (available.empty()) return vsUnknown;
  return available == ownVersion ? vsUpToDate : vsNewer;
}

int TodayNumber() { return static_cast<int>(std::floor(Now())); }

bool ClaimVersionCheck(TRegIniExtended& settings, int today, bool force) {
  // A day after today (the clock was wrong when it was stored, or was set back
  // since) would otherwise stop the checks until that day comes round.
  const int lastCheck = settings.ReadInteger({}, kVersionCheckValue, 0);
  const bool due = lastCheck > today || static_cast<std::int64_t>(today) - lastCheck > kDaysBetweenChecks;
  if (!force && !due) return false;
  settings.WriteInteger({}, kVersionCheckValue, today);
  return true;
}

bool StoreVersionAnswer(TRegIniExtended& settings, int statusCode, const std::string& body) {
  if (statusCode != 200 || body.empty() || body.size() > kMaxStoredVersionBytes) return false;
  settings.WriteString({}, kVersionAvailableValue, body);
  return true;
}
