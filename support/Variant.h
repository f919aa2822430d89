#pragma once
// The system's dynamic value: database parameters and column values, JSON values
// and decoded protocol buffer fields travel in it.
//
// Thread: a Variant is a plain value; distinct objects may be used from any thread.
// Failure: conversions never throw; a value that has no sensible reading in the
// asked type gives 0, false or the empty text (see each operation).

#include <cstdint>
#include <string>
#include <variant>

enum TVarKind : std::uint8_t {
  vkNull,
  vkEmpty,
  vkBoolean,
  vkInt8,
  vkInt16,
  vkInt32,
  vkInt64,
  vkUInt8,
  vkUInt16,
  vkUInt32,
  vkUInt64,
  vkSingle,
  vkDouble,
  vkCurrency,  // 64-bit fixed point, value × 10000
  vkDateTime,  // days since 30 December 1899, fraction = time of day
  vkString,    // 8-bit byte string
  vkWideString // UTF-16 code units
};

class Variant {
public:
  // Null is the default: "no value", as a NULL column or a missing field.
  Variant() = default;

  Variant(bool value);
  Variant(std::int8_t value);
  Variant(std::int16_t value);
  Variant(std::int32_t value);
  Variant(long value);
  Variant(long long value);
  Variant(std::uint8_t value);
  Variant(std::uint16_t value);
  Variant(std::uint32_t value);
  Variant(unsigned long value);
  Variant(unsigned long long value);
  Variant(float value);
  Variant(double value);
  Variant(std::string value);
  Variant(const char *value);
  Variant(std::u16string value);
  Variant(const char16_t *value);

  static Variant Null() { return Variant(); }
  static Variant Empty();
  // A date-time is a double with its own kind so that binders and formatters can tell it apart.
  static Variant FromDateTime(double days);
  // scaled is the amount × 10000.
  static Variant FromCurrencyScaled(std::int64_t scaled);
  static Variant FromCurrency(double amount);

  TVarKind kind() const { return m_kind; }
  bool IsNull() const { return m_kind == vkNull; }
  bool IsEmpty() const { return m_kind == vkEmpty; }
  bool IsNullOrEmpty() const { return m_kind == vkNull || m_kind == vkEmpty; }
  bool IsBoolean() const { return m_kind == vkBoolean; }
  // Any of the eight integer kinds (not boolean, not currency).
  bool IsInteger() const;
  // Single, double or currency.
  bool IsFloat() const;
  bool IsDateTime() const { return m_kind == vkDateTime; }
  // 8-bit or wide string.
  bool IsString() const { return m_kind == vkString || m_kind == vkWideString; }

  // Conversions. Integers out of range wrap (two's complement truncation); floating
  // values are truncated toward zero (NaN and values beyond 64 bits give 0); strings
  // are read as decimal integers with commas ignored (0 when not a number);
  // null, empty give 0; boolean gives 1/0.
  bool ToBool() const;            // non-zero number, "true"/non-zero text, boolean true
  std::int32_t ToInt32() const;
  std::int64_t ToInt64() const;
  std::uint64_t ToUInt64() const;
  // Numbers as double (currency as its amount, date-time as days); strings read with
  // "." as decimal point and commas ignored (0 when not a number).
  double ToDouble() const;
  std::int64_t ToCurrencyScaled() const;
  // Text form: null/empty "", boolean "True"/"False", integers in decimal, floating values
  // in the shortest form that reads back the same, currency with up to four decimals,
  // date-time as "YYYY-MM-DD HH:MM:SS", wide strings encoded as UTF-8, 8-bit strings as is.
  std::string ToString() const;
  // Wide form: 8-bit strings decoded as UTF-8 when valid, else byte by byte (Latin-1).
  std::u16string ToWideString() const;

  // Same kind and same value. Two nulls are equal.
  bool operator==(const Variant &other) const;

private:
  using Storage = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double,
                               std::string, std::u16string>;
  Variant(TVarKind kind, Storage storage) : m_kind(kind), m_value(std::move(storage)) {}

  TVarKind m_kind = vkNull;
  Storage m_value;
};

// UTF-16 <-> UTF-8 helpers shared by the variant and the JSON reader. An unpaired
// surrogate is encoded as its own three bytes so that nothing is lost.
std::string WideToUtf8(const std::u16string &text);
// Valid UTF-8 is decoded; otherwise every byte becomes the code unit of the same value.
std::u16string Utf8ToWide(const std::string &text);
