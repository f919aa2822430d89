#include "MyJSON.h"

#include "support/MyConvert.h"
#include "support/MyFunctions.h"

namespace {

bool IsQuoted(const std::string& text) { return text.size() >= 2 && text.front() == '"' && text.back() == '"'; }

char EscapedChar(char c) {
  switch (c) {
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return c;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string JSONCompact(const std::string& text) {
  std::string compact;
  compact.reserve(text.size());
  bool inString = false;
  bool escape = false;
  for (char c : text) {
    if (escape) {
      escape = false;
    } else if (c == '\\') {
      escape = true;
    } else if (c == '"') {
      inString = !inString;
    } else if (!inString && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      continue;
    }
    compact += c;
  }
  return compact;
}

std::string JSONUnquote(const std::string& text) {
  const std::string inner = IsQuoted(text) ? text.substr(1, text.size() - 2) : text;
  std::string result;
  result.reserve(inner.size());
  for (std::size_t i = 0; i < inner.size(); ++i) {
    // A backslash that ends the text escapes nothing and stays.
    if (inner[i] == '\\' && i + 1 < inner.size())
      result += EscapedChar(inner[++i]);
    else
      result += inner[i];
  }
  return result;
}

std::u16string JSONUnquoteWide(const std::string& text) {
  const std::string inner = IsQuoted(text) ? text.substr(1, text.size() - 2) : text;
  std::u16string result;
  std::string plain;  // bytes since the last \u escape, converted as one run
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] != '\\' || i + 1 >= inner.size()) {
      plain += inner[i];
      continue;
    }
    const char escaped = inner[++i];
    if (escaped != 'u') {
      plain += EscapedChar(escaped);
      continue;
    }
    result += Utf8ToWide(plain);
    plain.clear();
    const std::string digits = inner.substr(i + 1, 4);
    i += digits.size();
    unsigned unit = 0;
    for (char digit : digits) {
      const int value = HexDigit(digit);
      if (value < 0 || digits.size() < 4) {
        unit = 0;
        break;
      }
      unit = unit * 16 + static_cast<unsigned>(value);
    }
    result += static_cast<char16_t>(unit);
  }
  return result + Utf8ToWide(plain);
}

Variant JSONTypedValue(const std::string& raw) {
  const std::string lower = LowerText(raw);
  if (lower.empty() || lower == "null") return Variant();
  if (lower == "true") return Variant(true);
  if (lower == "false") return Variant(false);
  if (IsAllDigits(lower)) return Variant(TextToInt(raw, 0));
  if (raw.front() == '"') return Variant(JSONUnquoteWide(raw));
  return Variant(raw);
}

TMyJSON::TMyJSON(const std::string& text) { Parse(JSONCompact(text)); }

void TMyJSON::Parse(const std::string& text) {
  if (text.empty()) return;
  if (text[0] == '{') {
    Kind = jkObject;
  } else if (text[0] == '[') {
    Kind = jkArray;
  } else {
    EndPos = 1;
    return;
  }

  std::string token;
  int depth = 1;
  bool inString = false;
  bool escape = false;
  // A value closes at "," or at the closing bracket; an object that gains a value
  // without a name stops reading there.
  auto storeToken = [&](std::int32_t position) {
    if (token.empty()) return;
    Values.push_back(token);
    if (Kind == jkObject && Values.size() > Names.size()) EndPos = position;
    token.clear();
  };
  for (std::size_t i = 1; i < text.size() && EndPos == 0 && depth > 0; ++i) {
    const char c = text[i];
    const auto position = static_cast<std::int32_t>(i + 1);
    if (escape) {
      token += c;
      escape = false;
    } else if (c == '\\') {
      token += c;
      escape = true;
    } else if (c == '"') {
      token += c;
      inString = !inString;
    } else if (inString) {
      token += c;
    } else if (depth == 1) {
      if (c == ',') {
        storeToken(position);
      } else if (c == ':') {
        if (!token.empty()) Names.push_back(JSONUnquote(token));
        token.clear();
      } else if (c == '[' || c == '{') {
        token += c;
        ++depth;
      } else if (c == ']' || c == '}') {
        storeToken(position);
        if (--depth == 0) EndPos = position;
      } else {
        token += c;
      }
    } else {
      if (c == '[' || c == '{') ++depth;
      if (c == ']' || c == '}') --depth;
      token += c;
    }
  }

  const auto length = static_cast<std::int32_t>(text.size());
  if (EndPos == length)
    EndPos = 0;
  else if (EndPos == 0 && !token.empty())
    EndPos = length + 1;

  if ((Kind == jkObject && Names.size() != Values.size()) || (Kind == jkArray && !Names.empty())) Kind = jkNone;
  if (Kind == jkNone) {
    Names.clear();
    Values.clear();
  }
}

int TMyJSON::Count() const { return Kind == jkNone ? 0 : static_cast<int>(Values.size()); }

int TMyJSON::IndexOf(const std::string& name) const {
  if (Kind != jkObject) return -1;
  const std::string wanted = LowerText(name);
  for (int i = static_cast<int>(Names.size()) - 1; i >= 0; --i)
    if (LowerText(Names[static_cast<std::size_t>(i)]) == wanted) return i;
  return -1;
}

std::string TMyJSON::NameAt(int index) const {
  if (Kind != jkObject || index < 0 || index >= static_cast<int>(Names.size())) return {};
  return Names[static_cast<std::size_t>(index)];
}

std::string TMyJSON::RawValue(int index) const {
  if (index < 0 || index >= Count()) return {};
  return Values[static_cast<std::size_t>(index)];
}

std::string TMyJSON::RawValue(const std::string& name) const { return RawValue(IndexOf(name)); }

std::string TMyJSON::RawValue(const Variant& key) const {
  if (key.IsInteger()) {
    const std::int64_t index = key.ToInt64();
    return index >= 0 && index < Count() ? RawValue(static_cast<int>(index)) : std::string();
  }
  if (key.IsString()) return RawValue(key.ToString());
  return {};
}

Variant TMyJSON::Value(int index) const { return JSONTypedValue(RawValue(index)); }
Variant TMyJSON::Value(const std::string& name) const { return JSONTypedValue(RawValue(name)); }
Variant TMyJSON::Value(const Variant& key) const { return JSONTypedValue(RawValue(key)); }

std::string JSONGetText(const std::string& json, const std::string& name) {
  return TMyJSON(json).Value(name).ToString();
}
