#include "MyConvert.h"

#include "Clock.h"
#include "MyFunctions.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {

// Shared digit loop of the decimal readers: unsigned arithmetic so that overflow wraps
// instead of being undefined.
template <typename Unsigned>
bool ReadDecimal(const std::string &text, Unsigned &result) {
  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    i = 1;
  }
  Unsigned value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ',') continue;
    if (c < '0' || c > '9') return false;
    value = static_cast<Unsigned>(value * 10u + static_cast<unsigned>(c - '0'));
  }
  result = negative ? static_cast<Unsigned>(0u - value) : value;
  return true;
}

template <typename Unsigned>
bool ReadHex(const std::string &text, Unsigned &result) {
  if (text.empty()) return false;
  Unsigned value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    value = static_cast<Unsigned>(value * 16u + digit);
  }
  result = value;
  return true;
}

const char *const kWeekdays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
const char *const kMonths[12] = {"January", "February", "March",     "April",
                                 "May",     "June",     "July",      "August",
                                 "September", "October", "November", "December"};
// Code page 1255 bytes.
const char *const kHebrewWeekdayLetters[7] = {"\xE0", "\xE1", "\xE2", "\xE3",
                                              "\xE4", "\xE5", "\xF9"};
const char *const kHebrewWeekdays[7] = {
    "\xF8\xE0\xF9\xE5\xEF", "\xF9\xF0\xE9",         "\xF9\xEC\xE9\xF9\xE9",
    "\xF8\xE1\xE9\xF2\xE9", "\xE7\xEE\xE9\xF9\xE9", "\xF9\xE9\xF9\xE9",
    "\xF9\xE1\xFA"};
const char *const kHebrewMonths[12] = {
    "\xE9\xF0\xE5\xE0\xF8",         "\xF4\xE1\xF8\xE5\xE0\xF8", "\xEE\xF8\xF5",
    "\xE0\xF4\xF8\xE9\xEC",         "\xEE\xE0\xE9",             "\xE9\xE5\xF0\xE9",
    "\xE9\xE5\xEC\xE9",             "\xE0\xE5\xE2\xE5\xF1\xE8", "\xF1\xF4\xE8\xEE\xE1\xF8",
    "\xE0\xE5\xF7\xE8\xE5\xE1\xF8", "\xF0\xE5\xE1\xEE\xE1\xF8", "\xE3\xF6\xEE\xE1\xF8"};

} // namespace

std::int32_t TextToInt(const std::string &text, std::int32_t defaultValue) {
  std::uint32_t value;
  return ReadDecimal(text, value) ? static_cast<std::int32_t>(value) : defaultValue;
}

std::int64_t TextToInt64(const std::string &text, std::int64_t defaultValue) {
  std::uint64_t value;
  return ReadDecimal(text, value) ? static_cast<std::int64_t>(value) : defaultValue;
}

double TextToFloat(const std::string &text, double defaultValue) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text)
    if (c != ',') cleaned += c;
  std::size_t first = cleaned.find_first_not_of(' ');
  if (first == std::string::npos) return defaultValue;
  std::size_t last = cleaned.find_last_not_of(' ') + 1;
  // from_chars also takes "inf", "nan" and hexadecimal forms; a decimal reading does not.
  for (std::size_t i = first; i < last; ++i) {
    const char c = cleaned[i];
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
      return defaultValue;
  }
  if (cleaned[first] == '+') {
    ++first;
    if (first < last && (cleaned[first] == '+' || cleaned[first] == '-')) return defaultValue;
  }
  double value = 0;
  auto [end, ec] = std::from_chars(cleaned.data() + first, cleaned.data() + last, value);
  if (ec != std::errc() || end != cleaned.data() + last) return defaultValue;
  return value;
}

std::int32_t HexToInt(const std::string &text, std::int32_t defaultValue) {
  std::uint32_t value;
  return ReadHex(text, value) ? static_cast<std::int32_t>(value) : defaultValue;
}

std::int64_t HexToInt64(const std::string &text, std::int64_t defaultValue) {
  std::uint64_t value;
  return ReadHex(text, value) ? static_cast<std::int64_t>(value) : defaultValue;
}

bool IsAllDigits(const std::string &text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string BytesToHex(const std::string &bytes, bool spaced) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) out += ' ';
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string HexToBytes(const std::string &text, bool spaced) {
  std::string out;
  if (!spaced) {
    out.reserve(text.size() / 2 + 1);
    for (std::size_t i = 0; i < text.size(); i += 2)
      out += static_cast<char>(HexToInt(text.substr(i, 2), 0));
    return out;
  }
  std::string rest = text;
  while (!rest.empty()) {
    const std::int32_t value = HexToInt(CutToken(rest, ' '), 0);
    // A negative value (eight digits from 80000000 on) is no byte either.
    if (value < 0 || value > 255)
      throw std::range_error("hexadecimal byte out of range in \"" + text + "\"");
    out += static_cast<char>(value);
  }
  return out;
}

bool VariantIsBoolean(const Variant &value) { return value.kind() == vkBoolean; }

std::int32_t VariantToInt(const Variant &value, std::int32_t defaultValue) {
  switch (value.kind()) {
  case vkInt8:
  case vkInt16:
  case vkInt32:
  case vkInt64:
  case vkUInt8:
  case vkUInt16:
  case vkUInt32:
  case vkUInt64: return value.ToInt32();
  case vkSingle:
  case vkDouble: {
    const double truncated = std::trunc(value.ToDouble());
    if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0))
      throw std::range_error("floating value does not fit 32 bits: " + value.ToString());
    return static_cast<std::int32_t>(truncated);
  }
  case vkString: return TextToInt(value.ToString(), 0);
  default: return defaultValue;
  }
}

std::string VariantDateText(const Variant &value, bool withTime) {
  if (value.IsNull()) return {};
  return FormatDateTemplate(withTime ? "%YYYY%-%MM%-%DD% #HH#:#MM#:#SS#" : "%YYYY%-%MM%-%DD%",
                            value.ToDouble());
}

std::string FormatDateTemplate(const std::string &dateTemplate, double dateTime) {
  const TDateTimeParts p = DecodeDateTime(dateTime);
  const int weekday = p.dayOfWeek - 1;
  const int month = p.month - 1;
  const std::string dayName = kWeekdays[weekday];
  const std::string monthName = kMonths[month];
  const int shortYear = p.year % 100;

  // The order matters: a later token never sees text that an earlier one produced as
  // anything but literal text, and the table order is the documented behaviour.
  const std::pair<const char *, std::string> replacements[] = {
      {"%D%", std::to_string(p.day)},
      {"%DD%", ZeroPad(p.day, 2)},
      {"%DDD%", dayName.substr(0, 3)},
      {"%DDDD%", dayName},
      {"%HDDD%", kHebrewWeekdayLetters[weekday]},
      {"%HDDDD%", kHebrewWeekdays[weekday]},
      {"%M%", std::to_string(p.month)},
      {"%MM%", ZeroPad(p.month, 2)},
      {"%MMM%", monthName.substr(0, 3)},
      {"%MMMM%", monthName},
      {"%HMMMM%", kHebrewMonths[month]},
      {"%Y%", std::to_string(shortYear)},
      {"%YY%", ZeroPad(shortYear, 2)},
      {"%YYYY%", ZeroPad(p.year, 4)},
      {"%H%", std::to_string(p.hour)},
      {"%HH%", ZeroPad(p.hour, 2)},
      {"%N%", std::to_string(p.minute)},
      {"%NN%", ZeroPad(p.minute, 2)},
      {"%S%", std::to_string(p.second)},
      {"%SS%", ZeroPad(p.second, 2)},
      {"#H#", std::to_string(p.hour)},
      {"#HH#", ZeroPad(p.hour, 2)},
      {"#M#", std::to_string(p.minute)},
      {"#MM#", ZeroPad(p.minute, 2)},
      {"#S#", std::to_string(p.second)},
      {"#SS#", ZeroPad(p.second, 2)},
  };
  std::string text = dateTemplate;
  for (const auto &[token, replacement] : replacements)
    text = ReplaceText(text, token, replacement, true);
  return text;
}

std::string NowText() { return FormatDateTemplate("%DD%/%MM%/%YYYY% #HH#:#MM#:#SS#", Now()); }

std::string DateTimeText(double dateTime) {
  if (dateTime == std::trunc(dateTime)) return FormatDateTemplate("%DD%/%MM%/%YYYY%", dateTime);
  return FormatDateTemplate("%DD%/%MM%/%YYYY% #HH#:#MM#", dateTime);
}
