#include "Clock.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>

namespace {

std::mutex g_overrideMutex;
std::function<double()> g_override;
std::function<double()> g_steadyOverride;

// Days between 30 December 1899 and 1 January 1970.
constexpr std::int64_t kUnixEpochDays = 25569;
constexpr double kMsPerDay = 86400000.0;

// Proleptic Gregorian day count relative to 1970-01-01 (the well-known civil algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int &year, int &month, int &day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

double RealNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  localtime_r(&ts.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

} // namespace

double Now() {
  {
    std::lock_guard lock(g_overrideMutex);
    if (g_override) return g_override();
  }
  return RealNow();
}

void SetNowOverride(std::function<double()> now) {
  std::lock_guard lock(g_overrideMutex);
  g_override = std::move(now);
}

double SteadySeconds() {
  {
    std::lock_guard lock(g_overrideMutex);
    if (g_steadyOverride) return g_steadyOverride();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SetSteadySecondsOverride(std::function<double()> seconds) {
  std::lock_guard lock(g_overrideMutex);
  g_steadyOverride = std::move(seconds);
}

TDateTimeParts DecodeDateTime(double dateTime) {
  TDateTimeParts parts;
  if (!std::isfinite(dateTime)) return parts;
  // Values beyond a few million years have no calendar meaning; clamp to keep the
  // integer arithmetic defined.
  if (dateTime > 1e9) dateTime = 1e9;
  if (dateTime < -1e9) dateTime = -1e9;
  double whole = std::trunc(dateTime);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(dateTime - whole) * kMsPerDay));
  auto dayNumber = static_cast<std::int64_t>(whole);
  // Rounding reached midnight: the following day, also before day 0, where the whole
  // part is still the day and the fraction its time.
  if (ms >= 86400000) {
    ms -= 86400000;
    ++dayNumber;
  }
  CivilFromDays(dayNumber - kUnixEpochDays, parts.year, parts.month, parts.day);
  // 30 December 1899 (day 0) was a Saturday.
  std::int64_t dow = (dayNumber % 7 + 7 + 6) % 7;  // 0 = Sunday
  parts.dayOfWeek = static_cast<int>(dow) + 1;
  parts.hour = static_cast<int>(ms / 3600000);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.millisecond = static_cast<int>(ms % 1000);
  return parts;
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  // Normalise the month so that DaysFromCivil sees 1..12.
  std::int64_t y = year;
  std::int64_t m0 = static_cast<std::int64_t>(month) - 1;
  y += m0 >= 0 ? m0 / 12 : (m0 - 11) / 12;
  m0 = ((m0 % 12) + 12) % 12;
  const std::int64_t days =
      DaysFromCivil(y, static_cast<unsigned>(m0 + 1), 1) + (day - 1) + kUnixEpochDays;
  const double time =
      ((static_cast<double>(hour) * 60 + minute) * 60 + second) * 1000.0 + millisecond;
  const double fraction = time / kMsPerDay;
  // Before day 0 the fraction still adds time of day, so it is subtracted from the
  // negative day number.
  return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

double UnixToDateTime(std::int64_t unixSeconds) {
  return static_cast<double>(unixSeconds) / 86400.0 + static_cast<double>(kUnixEpochDays);
}

std::int64_t DateTimeToUnix(double dateTime) {
  return std::llround((dateTime - static_cast<double>(kUnixEpochDays)) * 86400.0);
}

double UnixToLocalDateTime(std::int64_t unixSeconds) {
  auto t = static_cast<time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}
