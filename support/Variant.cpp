#include "Variant.h"

#include "Clock.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Decimal integer with optional sign and ignored commas; 0 when not a number.
std::int64_t ParseInteger(const std::string &text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  bool any = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ',') continue;
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
    any = true;
  }
  if (!any) return 0;
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

double ParseFloat(const std::string &text) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text)
    if (c != ',') cleaned += c;
  double value = 0;
  const char *first = cleaned.data();
  const char *last = first + cleaned.size();
  if (first != last && *first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) return 0;
  return value;
}

// Truncation toward zero that stays defined for NaN and huge values.
std::int64_t TruncToInt64(double value) {
  if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
    return 0;
  return static_cast<std::int64_t>(value);
}

std::string DoubleText(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return {};
  return std::string(buffer, end);
}

std::string FloatText(float value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return {};
  return std::string(buffer, end);
}

std::string CurrencyText(std::int64_t scaled) {
  const bool negative = scaled < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  std::uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(fraction));
    std::string f(digits);
    while (!f.empty() && f.back() == '0') f.pop_back();
    text += '.' + f;
  }
  return negative ? '-' + text : text;
}

std::string DateTimeText(double value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                p.hour, p.minute, p.second);
  return buffer;
}

} // namespace

Variant::Variant(bool value) : m_kind(vkBoolean), m_value(value) {}
Variant::Variant(std::int8_t value) : m_kind(vkInt8), m_value(std::int64_t{value}) {}
Variant::Variant(std::int16_t value) : m_kind(vkInt16), m_value(std::int64_t{value}) {}
Variant::Variant(std::int32_t value) : m_kind(vkInt32), m_value(std::int64_t{value}) {}
Variant::Variant(long value) : m_kind(vkInt64), m_value(static_cast<std::int64_t>(value)) {}
Variant::Variant(long long value) : m_kind(vkInt64), m_value(static_cast<std::int64_t>(value)) {}
Variant::Variant(std::uint8_t value) : m_kind(vkUInt8), m_value(std::uint64_t{value}) {}
Variant::Variant(std::uint16_t value) : m_kind(vkUInt16), m_value(std::uint64_t{value}) {}
Variant::Variant(std::uint32_t value) : m_kind(vkUInt32), m_value(std::uint64_t{value}) {}
Variant::Variant(unsigned long value)
    : m_kind(vkUInt64), m_value(static_cast<std::uint64_t>(value)) {}
Variant::Variant(unsigned long long value)
    : m_kind(vkUInt64), m_value(static_cast<std::uint64_t>(value)) {}
Variant::Variant(float value) : m_kind(vkSingle), m_value(static_cast<double>(value)) {}
Variant::Variant(double value) : m_kind(vkDouble), m_value(value) {}
Variant::Variant(std::string value) : m_kind(vkString), m_value(std::move(value)) {}
Variant::Variant(const char *value)
    : m_kind(vkString), m_value(std::string(value ? value : "")) {}
Variant::Variant(std::u16string value) : m_kind(vkWideString), m_value(std::move(value)) {}
Variant::Variant(const char16_t *value)
    : m_kind(vkWideString), m_value(std::u16string(value ? value : u"")) {}

Variant Variant::Empty() { return Variant(vkEmpty, std::monostate{}); }

Variant Variant::FromDateTime(double days) { return Variant(vkDateTime, days); }

Variant Variant::FromCurrencyScaled(std::int64_t scaled) { return Variant(vkCurrency, scaled); }

Variant Variant::FromCurrency(double amount) {
  return FromCurrencyScaled(TruncToInt64(std::round(amount * 10000.0)));
}

bool Variant::IsInteger() const { return m_kind >= vkInt8 && m_kind <= vkUInt64; }

bool Variant::IsFloat() const {
  return m_kind == vkSingle || m_kind == vkDouble || m_kind == vkCurrency;
}

bool Variant::ToBool() const {
  switch (m_kind) {
  case vkBoolean: return std::get<bool>(m_value);
  case vkString:
  case vkWideString: {
    const std::string text = ToString();
    if (text.size() == 4 && (text[0] | 0x20) == 't' && (text[1] | 0x20) == 'r' &&
        (text[2] | 0x20) == 'u' && (text[3] | 0x20) == 'e')
      return true;
    return ParseFloat(text) != 0;
  }
  case vkSingle:
  case vkDouble:
  case vkDateTime: return ToDouble() != 0;
  default: return ToInt64() != 0;
  }
}

std::int32_t Variant::ToInt32() const { return static_cast<std::int32_t>(ToInt64()); }

std::int64_t Variant::ToInt64() const {
  switch (m_kind) {
  case vkBoolean: return std::get<bool>(m_value) ? 1 : 0;
  case vkInt8:
  case vkInt16:
  case vkInt32:
  case vkInt64: return std::get<std::int64_t>(m_value);
  case vkUInt8:
  case vkUInt16:
  case vkUInt32:
  case vkUInt64: return static_cast<std::int64_t>(std::get<std::uint64_t>(m_value));
  case vkCurrency: return std::get<std::int64_t>(m_value) / 10000;
  case vkSingle:
  case vkDouble:
  case vkDateTime: return TruncToInt64(std::get<double>(m_value));
  case vkString: return ParseInteger(std::get<std::string>(m_value));
  case vkWideString: return ParseInteger(ToString());
  default: return 0;
  }
}

std::uint64_t Variant::ToUInt64() const {
  if (m_kind >= vkUInt8 && m_kind <= vkUInt64) return std::get<std::uint64_t>(m_value);
  return static_cast<std::uint64_t>(ToInt64());
}

double Variant::ToDouble() const {
  switch (m_kind) {
  case vkBoolean: return std::get<bool>(m_value) ? 1 : 0;
  case vkInt8:
  case vkInt16:
  case vkInt32:
  case vkInt64: return static_cast<double>(std::get<std::int64_t>(m_value));
  case vkUInt8:
  case vkUInt16:
  case vkUInt32:
  case vkUInt64: return static_cast<double>(std::get<std::uint64_t>(m_value));
  case vkCurrency: return static_cast<double>(std::get<std::int64_t>(m_value)) / 10000.0;
  case vkSingle:
  case vkDouble:
  case vkDateTime: return std::get<double>(m_value);
  case vkString: return ParseFloat(std::get<std::string>(m_value));
  case vkWideString: return ParseFloat(ToString());
  default: return 0;
  }
}

std::int64_t Variant::ToCurrencyScaled() const {
  if (m_kind == vkCurrency) return std::get<std::int64_t>(m_value);
  if (IsInteger() || m_kind == vkBoolean) return ToInt64() * 10000;
  return TruncToInt64(std::round(ToDouble() * 10000.0));
}

std::string Variant::ToString() const {
  switch (m_kind) {
  case vkNull:
  case vkEmpty: return {};
  case vkBoolean: return std::get<bool>(m_value) ? "True" : "False";
  case vkInt8:
  case vkInt16:
  case vkInt32:
  case vkInt64: return std::to_string(std::get<std::int64_t>(m_value));
  case vkUInt8:
  case vkUInt16:
  case vkUInt32:
  case vkUInt64: return std::to_string(std::get<std::uint64_t>(m_value));
  case vkSingle: return FloatText(static_cast<float>(std::get<double>(m_value)));
  case vkDouble: return DoubleText(std::get<double>(m_value));
  case vkCurrency: return CurrencyText(std::get<std::int64_t>(m_value));
  case vkDateTime: return DateTimeText(std::get<double>(m_value));
  case vkString: return std::get<std::string>(m_value);
  case vkWideString: return WideToUtf8(std::get<std::u16string>(m_value));
  }
  return {};
}

std::u16string Variant::ToWideString() const {
  if (m_kind == vkWideString) return std::get<std::u16string>(m_value);
  return Utf8ToWide(ToString());
}

bool Variant::operator==(const Variant &other) const {
  return m_kind == other.m_kind && m_value == other.m_value;
}

std::string WideToUtf8(const std::u16string &text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

namespace {

// Decodes strict UTF-8 (no overlong forms, no code points past U+10FFFF); false when invalid.
// Encoded surrogates are accepted so that WideToUtf8 output of lone surrogates reads back.
bool DecodeUtf8(const std::string &text, std::u16string &out) {
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::uint32_t cp;
    std::size_t length;
    if (b0 < 0x80) { cp = b0; length = 1; }
    else if (b0 >= 0xC2 && b0 <= 0xDF) { cp = b0 & 0x1Fu; length = 2; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { cp = b0 & 0x0Fu; length = 3; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { cp = b0 & 0x07u; length = 4; }
    else return false;
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += length;
  }
  return true;
}

} // namespace

std::u16string Utf8ToWide(const std::string &text) {
  std::u16string out;
  if (DecodeUtf8(text, out)) return out;
  out.clear();
  for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}
