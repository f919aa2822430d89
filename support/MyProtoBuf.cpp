#include "MyProtoBuf.h"

#include "MyConvert.h"
#include "MyFunctions.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const char *WireTypeName(std::uint8_t wireType) {
  switch (wireType) {
  case 0: return "INT32";
  case 1: return "DOUBLE";
  case 2: return "STRING";
  case 5: return "FLOAT";
  default: return "INVALID";
  }
}

std::vector<std::string> SplitWords(const std::string &line) {
  std::vector<std::string> words;
  std::string rest = line;
  while (!rest.empty()) words.push_back(CutToken(rest, ' '));
  return words;
}

// Little-endian IEEE values from the 8-byte buffer.
double DoubleFromBytes(const std::string &buffer) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(buffer[i]);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float FloatFromBytes(const std::string &buffer) {
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(buffer[i]);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

} // namespace

std::int64_t ZigZagEncode(std::int64_t value) {
  const auto u = static_cast<std::uint64_t>(value);
  return static_cast<std::int64_t>((u << 1) ^ (value < 0 ? ~std::uint64_t{0} : 0));
}

std::int64_t ZigZagDecode(std::int64_t value) {
  const auto u = static_cast<std::uint64_t>(value);
  return static_cast<std::int64_t>((u >> 1) ^ (0 - (u & 1)));
}

std::string EncodeVarint(bool zigZag, std::int64_t value) {
  if (zigZag) value = ZigZagEncode(value);
  std::string out;
  // Only a positive value (taken as signed) produces bytes; a zigzag-mapped value with the
  // top bit set (minimum 64-bit integer) is therefore encoded as 0 like any negative.
  auto u = static_cast<std::uint64_t>(value);
  while (value > 0) {
    auto byte = static_cast<unsigned char>(u & 0x7F);
    u >>= 7;
    value = static_cast<std::int64_t>(u);
    if (u > 0) byte |= 0x80;
    out += static_cast<char>(byte);
  }
  if (out.empty()) out += '\0';
  return out;
}

std::string EncodeKey(std::int32_t fieldNumber, std::uint8_t wireType) {
  const std::uint8_t code =
      (wireType == 1 || wireType == 2 || wireType == 3 || wireType == 5) ? wireType : 0;
  return EncodeVarint(false, std::int64_t{fieldNumber} * 8 + code);
}

std::string EncodeBytesField(std::int32_t fieldNumber, const std::string &bytes) {
  return EncodeKey(fieldNumber, 2) + EncodeVarint(false, static_cast<std::int64_t>(bytes.size())) +
         bytes;
}

bool ReadVarint(std::string_view &data, std::int64_t &value) {
  std::uint64_t result = 0;
  unsigned shift = 0;
  int count = 0;
  bool ended = false;
  while (!data.empty() && shift < 64) {
    const auto byte = static_cast<unsigned char>(data.front());
    data.remove_prefix(1);
    ++count;
    result |= std::uint64_t{byte & 0x7Fu} << shift;
    shift += 7;
    if ((byte & 0x80) == 0) {
      ended = true;
      break;
    }
  }
  if (!ended || count > 9) return false;
  value = static_cast<std::int64_t>(result);
  return true;
}

bool ReadVarint(std::string &data, std::int64_t &value) {
  std::string_view view(data);
  const bool ok = ReadVarint(view, value);
  data.erase(0, data.size() - view.size());
  return ok;
}

TProtocolBufferDefs::TProtocolBufferDefs(const std::string &fileName) { LoadFromFile(fileName); }

void TProtocolBufferDefs::LoadFromFile(const std::string &fileName) {
  if (fileName.empty()) return;
  std::ifstream file(fileName, std::ios::binary);
  if (!file) return;
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return;
  ParseSchema(text.str());
}

void TProtocolBufferDefs::ParseSchema(const std::string &schemaText) {
  m_fields.clear();
  m_messages.clear();
  std::string currentMessage;

  std::size_t start = 0;
  while (start <= schemaText.size()) {
    std::size_t end = schemaText.find_first_of("\r\n", start);
    if (end == std::string::npos) end = schemaText.size();
    std::string line = ReplaceChar(schemaText.substr(start, end - start), '\t', ' ');
    start = end + 1;

    std::string comment;
    if (const std::size_t slashes = line.find("//"); slashes != std::string::npos) {
      comment = TrimCharSet(CollapseBlanks(line.substr(slashes + 2)), " ");
      line.erase(slashes);
    }
    line = CollapseBlanks(ReplaceText(line, "=", " = ", true));
    std::string upper = UpperText(line);

    if (upper.rfind("MESSAGE ", 0) == 0) {
      const std::size_t brace = upper.find('{');
      if (brace != std::string::npos && brace > 8) {
        // The name runs from after "MESSAGE " to the brace; a blank before the brace is
        // usual but not required.
        std::size_t nameEnd = brace;
        while (nameEnd > 8 && upper[nameEnd - 1] == ' ') --nameEnd;
        if (nameEnd > 8) {
          currentMessage = upper.substr(8, nameEnd - 8);
          m_messages.push_back(line.substr(8, nameEnd - 8));
        }
      }
    }
    if (line.find('}') != std::string::npos) currentMessage.clear();
    if (currentMessage.empty()) continue;

    std::vector<std::string> words = SplitWords(line);
    if (words.size() == 4 && words[2] == "=") {
      upper = "REQUIRED " + upper;
      line = "required " + line;
      words = SplitWords(line);
    }
    if (words.size() > 4 && words[3] == "=") {
      const std::vector<std::string> upperWords = SplitWords(upper);
      const std::string &rule = upperWords[0];
      if (rule != "OPTIONAL" && rule != "REQUIRED" && rule != "REPEATED") continue;
      std::string numberText = words[4];
      if (!numberText.empty() && numberText.back() == ';') numberText.pop_back();
      const std::int32_t number = TextToInt(numberText, 0);
      if (number > 0)
        m_fields.push_back(currentMessage + "|" + std::to_string(number) + "|" + rule + "|" +
                           upperWords[1] + "|" + words[2] + "|" + comment);
    }
  }
}

TProtocolBuffer::TProtocolBuffer(const std::string &data) { Parse(data); }

bool TProtocolBuffer::Parse(const std::string &data) {
  m_data = data;
  m_entries.clear();
  m_valid = true;
  std::string_view rest(m_data);
  while (!rest.empty() && m_valid) {
    std::int64_t key;
    // A field number the 32-bit field cannot hold would alias a small one.
    if (!ReadVarint(rest, key) || (key >> 3) > kMaxFieldNumber) {
      m_valid = false;
      break;
    }
    std::string payload;
    std::int64_t number;
    switch (key & 7) {
    case 0:
      if (ReadVarint(rest, number)) payload = std::to_string(number);
      else m_valid = false;
      break;
    case 3:
      // A read varint has at most 63 bits, so the negation cannot overflow.
      if (ReadVarint(rest, number)) payload = std::to_string(-number);
      else m_valid = false;
      break;
    case 1:
    case 5: {
      const std::size_t size = (key & 7) == 1 ? 8 : 4;
      if (rest.size() < size) {
        m_valid = false;
        break;
      }
      payload.assign(rest.substr(0, size));
      rest.remove_prefix(size);
      break;
    }
    case 2:
      if (!ReadVarint(rest, number) || static_cast<std::uint64_t>(number) > rest.size()) {
        m_valid = false;
        break;
      }
      payload.assign(rest.substr(0, static_cast<std::size_t>(number)));
      rest.remove_prefix(static_cast<std::size_t>(number));
      break;
    default: m_valid = false; break;
    }
    m_entries.push_back(std::to_string(key) + "|" + payload);
  }
  if (!m_valid) m_entries.clear();
  return m_valid;
}

std::string TProtocolBuffer::Entry(int index) const {
  if (index < 0 || index >= Count()) return {};
  return m_entries[static_cast<std::size_t>(index)];
}

std::string TProtocolBuffer::FindDefinition(std::int32_t fieldNumber) const {
  const std::string prefix = UpperText(m_messageName) + "|" + std::to_string(fieldNumber) + "|";
  const auto &fields = m_defs.Fields();
  for (auto it = fields.rbegin(); it != fields.rend(); ++it)
    if (it->compare(0, prefix.size(), prefix) == 0) return *it;
  return {};
}

bool TProtocolBuffer::GetField(int index, TProtocolBufferField &field) const {
  field = TProtocolBufferField{};
  const std::string entry = Entry(index);
  if (entry.empty()) return false;

  const std::size_t bar = entry.find('|');
  const std::int64_t key = TextToInt64(entry.substr(0, bar), 0);
  field.FieldNumber = static_cast<std::int32_t>(key / 8);
  const auto wire = static_cast<std::uint8_t>(key & 7);
  field.WireType = (wire == 0 || wire == 1 || wire == 2 || wire == 3 || wire == 5)
                       ? wire
                       : kWireTypeInvalid;
  field.Data = bar == std::string::npos ? std::string() : entry.substr(bar + 1);

  if (const std::string definition = FindDefinition(field.FieldNumber); !definition.empty()) {
    // message|number|RULE|TYPE|name|comment; the comment is the rest, bars and all.
    std::string rest = definition;
    CutToken(rest, '|');
    CutToken(rest, '|');
    const std::string rule = CutToken(rest, '|');
    field.TypeName = UpperText(CutToken(rest, '|'));
    field.Name = CutToken(rest, '|');
    field.Comment = rest;
    field.Rule = rule == "REQUIRED" ? pbrRequired : rule == "REPEATED" ? pbrRepeated : pbrOptional;
  } else {
    field.Name = std::to_string(field.FieldNumber);
    field.TypeName = WireTypeName(field.WireType);
  }

  switch (field.WireType) {
  case 0: {
    const std::int64_t value = TextToInt64(field.Data, 0);
    if (field.TypeName == "BOOL") field.Value = Variant(value != 0);
    else if (!field.TypeName.empty() && field.TypeName[0] == 'S')
      field.Value = Variant(static_cast<long long>(ZigZagDecode(value)));
    else field.Value = Variant(static_cast<long long>(value));
    break;
  }
  case 1:
  case 5: {
    const std::string buffer = field.Data + std::string(8, '\0');
    if (field.TypeName == "DOUBLE") field.Value = Variant(DoubleFromBytes(buffer));
    else if (field.TypeName == "FLOAT") field.Value = Variant(FloatFromBytes(buffer));
    else field.Value = Variant(static_cast<long long>(HexToInt64(BytesToHex(field.Data, false), 0)));
    break;
  }
  default: field.Value = Variant(field.Data); break;
  }
  return true;
}

Variant TProtocolBuffer::GetValue(std::int32_t fieldNumber) const {
  TProtocolBufferField field;
  for (int i = 0; i < Count(); ++i)
    if (GetField(i, field) && field.FieldNumber == fieldNumber) return field.Value;
  return Variant();
}
