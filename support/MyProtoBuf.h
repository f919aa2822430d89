#pragma once
// Protocol buffer wire format: free encoders, a decoded message (TProtocolBuffer) and an
// optional text schema (TProtocolBufferDefs) that names and types the fields.
//
// Wire types: 0 varint, 1 fixed 64-bit, 2 length-delimited, 3 negated varint (this
// codec's own use of the number), 5 fixed 32-bit; 4, 6 and 7 are invalid (held as 255).
// Failure: nothing throws. Parse reports a malformed message by its result and keeps no
// entries; reads never go past the given bytes. Thread: plain values, no shared state.

#include "support/Variant.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::uint8_t kWireTypeInvalid = 255;
// The largest field number a key may carry; a larger one makes the message invalid.
inline constexpr std::int64_t kMaxFieldNumber = (std::int64_t{1} << 29) - 1;

enum TProtocolBufferRule : std::uint8_t { pbrOptional = 0, pbrRequired = 1, pbrRepeated = 2 };

// n >= 0 -> 2n, n < 0 -> -2n - 1; and back.
std::int64_t ZigZagEncode(std::int64_t value);
std::int64_t ZigZagDecode(std::int64_t value);

// The varint of value (zigzag-mapped first when zigZag). Without zigzag a negative value
// encodes as the single byte 0, as the stored format has always done.
std::string EncodeVarint(bool zigZag, std::int64_t value);
// Varint of fieldNumber * 8 + wire code; wire types other than 1, 2, 3, 5 give code 0.
std::string EncodeKey(std::int32_t fieldNumber, std::uint8_t wireType);
// Key (wire type 2) + byte count + the bytes.
std::string EncodeBytesField(std::int32_t fieldNumber, const std::string &bytes);

// Reads one varint from the front of data, removing the bytes it looked at (also on
// failure). Fails on a truncated varint and on one of 10 or more bytes; value is
// written only on success.
bool ReadVarint(std::string &data, std::int64_t &value);
// The same on a view, advancing it; used by the decoder to avoid copying.
bool ReadVarint(std::string_view &data, std::int64_t &value);

// One decoded field, as GetField describes it.
struct TProtocolBufferField {
  std::int32_t FieldNumber = 0;
  std::string Name;
  Variant Value;
  std::string TypeName = "INVALID";
  std::uint8_t Rule = pbrOptional;
  std::string Comment;
  std::uint8_t WireType = kWireTypeInvalid;
  std::string Data;
};

// A schema in the protocol buffer definition language, flattened to lines:
// Fields: "MESSAGE|number|RULE|TYPE|name|comment" (message, rule, type upper-cased);
// Messages: message names in their own case. Nested messages, enums, options and
// imports are not understood; their lines are skipped except that "}" ends a message.
class TProtocolBufferDefs {
public:
  explicit TProtocolBufferDefs(const std::string &fileName = {});

  // Reads and parses the file; a missing or unreadable file leaves the lists as they are.
  void LoadFromFile(const std::string &fileName);
  void ParseSchema(const std::string &schemaText);

  const std::vector<std::string> &Fields() const { return m_fields; }
  const std::vector<std::string> &Messages() const { return m_messages; }

private:
  std::vector<std::string> m_fields;
  std::vector<std::string> m_messages;
};

// A decoded message: one entry per field occurrence in byte order, each entry being the
// key in decimal, "|", then the payload (decimal for wire types 0 and 3, raw bytes else).
class TProtocolBuffer {
public:
  explicit TProtocolBuffer(const std::string &data = {});

  // Replaces the entries; false (and no entries) for a malformed message. "" is valid.
  bool Parse(const std::string &data);

  bool Valid() const { return m_valid; }
  const std::string &Data() const { return m_data; }
  int Count() const { return static_cast<int>(m_entries.size()); }
  // "" for an index outside 0..Count()-1.
  std::string Entry(int index) const;

  // The schema consulted by GetField. Empty unless the caller loads one.
  TProtocolBufferDefs &Defs() { return m_defs; }
  const TProtocolBufferDefs &Defs() const { return m_defs; }
  // The schema message whose fields apply; empty by default, so no definition matches.
  const std::string &MessageName() const { return m_messageName; }
  void SetMessageName(const std::string &name) { m_messageName = name; }

  // The last schema line of MessageName with this field number; "" when none.
  std::string FindDefinition(std::int32_t fieldNumber) const;
  // The decoded record of entry index; the initial record for an index out of range
  // (then false is returned).
  bool GetField(int index, TProtocolBufferField &field) const;
  // Value of the first entry with this field number; null when none.
  Variant GetValue(std::int32_t fieldNumber) const;

private:
  std::string m_data;
  std::vector<std::string> m_entries;
  TProtocolBufferDefs m_defs;
  std::string m_messageName;
  bool m_valid = false;
};
