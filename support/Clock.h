#pragma once
// Date-times: a double counting days since 30 December 1899, the fraction being the
// time of day. Values are local wall-clock time unless a caller says otherwise.
//
// Now() is the one place that reads the clock for date-times, so tests can replace it.
// Thread: Now() may be called from any thread; SetNowOverride is meant for test set-up
// (it is guarded, but replacing the clock while workers read it is the test's business).

#include <cstdint>
#include <functional>

// The current local date-time, or what the override returns while one is set.
double Now();

// Replaces Now() until called again with an empty function (which restores the real clock).
void SetNowOverride(std::function<double()> now);

// Seconds on a clock that only moves forward (unaffected by time zone changes, clock
// steps or daylight saving), for measuring how long something lasts; replaceable by
// tests like Now().
double SteadySeconds();
void SetSteadySecondsOverride(std::function<double()> seconds);

struct TDateTimeParts {
  int year = 1899;
  int month = 12;      // 1..12
  int day = 30;        // 1..31
  int dayOfWeek = 7;   // 1 = Sunday ... 7 = Saturday
  int hour = 0;        // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Splits a date-time into its calendar fields. Negative values count back from
// 30 December 1899 with the fraction still meaning the time of day (as the original
// platform does: -1.25 is 29 December 1899 06:00). The time is rounded to the millisecond.
TDateTimeParts DecodeDateTime(double dateTime);

// Builds a date-time from calendar fields (no range checks beyond what the arithmetic
// needs: month 13 is January of the next year, day 0 is the last day of the month before).
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                      int second = 0, int millisecond = 0);

// Plain arithmetic conversions between Unix seconds and date-times in the same zone
// (no time-zone shift: UTC seconds give a UTC date-time).
double UnixToDateTime(std::int64_t unixSeconds);
std::int64_t DateTimeToUnix(double dateTime);

// The local date-time of a Unix time, through the system's time-zone rules.
double UnixToLocalDateTime(std::int64_t unixSeconds);
