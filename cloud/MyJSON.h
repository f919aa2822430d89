#pragma once
// One level of a JSON text: an object or an array split into its members, every value
// kept as raw text. A nested object or array stays text; read it with a second TMyJSON.
//
// Thread: a plain value; distinct objects may be used from any thread.
// Failure: malformed input never throws. It gives Kind jkNone (every lookup then gives
// the empty text, null or -1) or a document whose EndPos is not 0.

#include "support/Variant.h"

#include <cstdint>
#include <string>
#include <vector>

enum TJSONKind : std::uint8_t {
  jkNone = 0,    // not a usable document
  jkObject = 1,
  jkArray = 2,
};

class TMyJSON {
public:
  // Compacts the text (JSONCompact) and splits its first level.
  explicit TMyJSON(const std::string& text);

  // Number of values; 0 when Kind is jkNone.
  int Count() const;
  // Index of the member named `name`, ASCII letters compared without case; the last of
  // several equal names. -1 when absent or when the document is not an object.
  int IndexOf(const std::string& name) const;
  // Member name at the index; empty out of range and for arrays.
  std::string NameAt(int index) const;
  // Raw value by index (arrays and objects) or by name; empty when there is none.
  std::string RawValue(int index) const;
  std::string RawValue(const std::string& name) const;
  std::string RawValue(const char* name) const { return RawValue(std::string(name)); }
  // An integer variant is an index, a string variant a name; any other key gives "".
  std::string RawValue(const Variant& key) const;
  // The raw value typed: null for "" and null, booleans, a 32-bit integer for digits
  // only, a wide text for a quoted string (quotes removed, escapes resolved), else the
  // raw text itself (signed and fractional numbers, nested objects and arrays).
  Variant Value(int index) const;
  Variant Value(const std::string& name) const;
  Variant Value(const char* name) const { return Value(std::string(name)); }
  Variant Value(const Variant& key) const;

  std::vector<std::string> Names;   // object member names, unquoted and unescaped
  std::vector<std::string> Values;  // raw values, quotes and escapes as written
  std::uint8_t Kind = jkNone;
  // 0 when the text ended exactly at its closing bracket; else the 1-based position in
  // the compacted text where reading stopped (the closing bracket when text follows it,
  // an offending comma, or the length + 1 for an unterminated document).
  std::int32_t EndPos = 0;

private:
  void Parse(const std::string& text);
};

// Types a raw value as TMyJSON::Value does.
Variant JSONTypedValue(const std::string& raw);
// Removes blanks, tabs, CR and LF outside string literals.
std::string JSONCompact(const std::string& text);
// Strips one pair of surrounding quotes, then resolves \b \f \n \r \t; any other escaped
// character stands for itself (so \u0041 gives "u0041").
std::string JSONUnquote(const std::string& text);
// As JSONUnquote, but \uXXXX gives that UTF-16 code unit (0 when the four characters
// are not all hex digits); other text is read as UTF-8 when valid, else byte by byte.
std::u16string JSONUnquoteWide(const std::string& text);
// The text form of Value(name) of the JSON text ("" when absent).
std::string JSONGetText(const std::string& json, const std::string& name);
