#pragma once
// Conversions between byte-string text, numbers, hexadecimal, dynamic values and dates.
//
// All texts are byte strings (one byte per character). Failed number conversions return
// the caller's default; only HexToBytes (spaced) and VariantToInt raise, and then
// std::range_error. Thread: every function is reentrant (NowText reads Now()).

#include "support/Variant.h"

#include <cstdint>
#include <string>

// Optional sign, then digits and commas only (commas skipped); wraps on overflow.
// Any other character gives the default; the empty text and a sign alone give 0.
std::int32_t TextToInt(const std::string &text, std::int32_t defaultValue = 0);
std::int64_t TextToInt64(const std::string &text, std::int64_t defaultValue = 0);
// Commas removed, then a decimal number with "." as the point and an optional exponent;
// surrounding blanks are allowed. Anything else (including the empty text) gives the default.
double TextToFloat(const std::string &text, double defaultValue = 0);
// Hexadecimal digits of either case only, wrapping; anything else or "" gives the default.
std::int32_t HexToInt(const std::string &text, std::int32_t defaultValue = 0);
std::int64_t HexToInt64(const std::string &text, std::int64_t defaultValue = 0);
// True when every byte is 0-9 (also for the empty text).
bool IsAllDigits(const std::string &text);

// Two upper-case hex digits per byte; with spaced a blank between bytes.
std::string BytesToHex(const std::string &bytes, bool spaced);
// Unspaced: pairs of characters (a last single one on its own), each read with
// HexToInt default 0. Spaced: pieces between blanks; an empty piece is a zero byte and a
// piece whose value is not 0..255 throws std::range_error.
std::string HexToBytes(const std::string &text, bool spaced);

bool VariantIsBoolean(const Variant &value);
// 16/32-bit integers as they are; single/double truncated toward zero (std::range_error
// when outside 32 bits); the other integer kinds truncated to 32 bits; an 8-bit string
// through TextToInt with default 0; null, empty, boolean, currency, date-time and
// wide string give the default.
std::int32_t VariantToInt(const Variant &value, std::int32_t defaultValue = 0);
// "" for null; otherwise "%YYYY%-%MM%-%DD% #HH#:#MM#:#SS#" or, without time, "%YYYY%-%MM%-%DD%".
std::string VariantDateText(const Variant &value, bool withTime);

// Replaces the date tokens (%D% %DD% %DDD% %DDDD% %HDDD% %HDDDD% %M% %MM% %MMM% %MMMM%
// %HMMMM% %Y% %YY% %YYYY% %H% %HH% %N% %NN% %S% %SS% #H# #HH# #M# #MM# #S# #SS#), each in
// that order and at every occurrence. Hebrew names are produced in code page 1255.
std::string FormatDateTemplate(const std::string &dateTemplate, double dateTime);
// Now() as "%DD%/%MM%/%YYYY% #HH#:#MM#:#SS#".
std::string NowText();
// "%DD%/%MM%/%YYYY%" at exactly midnight, else "%DD%/%MM%/%YYYY% #HH#:#MM#".
std::string DateTimeText(double dateTime);
