#include "ParameterProfile.h"

#include <algorithm>
#include <cstdio>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& text, std::string& bytes, std::string& error) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes.push_back(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '\\') {
      bytes.push_back('\\');
      ++i;
      continue;
    }
    const int high = i + 3 < text.size() && text[i + 1] == 'x' ? HexDigit(text[i + 2]) : -1;
    const int low = high >= 0 ? HexDigit(text[i + 3]) : -1;
    if (low < 0) {
      error = "a backslash must start \\xHH or \\\\";
      return false;
    }
    bytes.push_back(static_cast<char>(high * 16 + low));
    i += 3;
  }
  return true;
}

}  // namespace

bool ParseParameterSetting(const std::string& text, TParameterSetting& setting, std::string& error) {
  const std::size_t equals = text.find('=');
  const std::string number = text.substr(0, std::min(equals, text.size()));
  if (equals == std::string::npos || number.empty() || number.size() > 5 ||
      !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      std::stoi(number) > 65535) {
    error = "expected NUMBER=VALUE with a parameter number from 0 to 65535, not '" + text + "'";
    return false;
  }
  std::string value;
  if (!Unescape(text.substr(equals + 1), value, error)) return false;
  // The value goes out on one command line; a CR or LF would end it early.
  if (value.find_first_of("\r\n") != std::string::npos) {
    error = "parameter " + number + ": a value cannot hold a line end";
    return false;
  }
  setting = {std::stoi(number), std::move(value)};
  return true;
}

bool ParseParameterProfile(const std::string& text, std::vector<TParameterSetting>& settings, std::string& error) {
  std::vector<TParameterSetting> parsed;
  std::size_t start = 0;
  for (int lineNumber = 1; start < text.size(); ++lineNumber) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    TParameterSetting setting;
    std::string why;
    if (!ParseParameterSetting(line.substr(first), setting, why)) {
      error = "line " + std::to_string(lineNumber) + ": " + why;
      return false;
    }
    MergeParameterSetting(parsed, setting);
  }
  settings = std::move(parsed);
  return true;
}

std::string EscapedParameterValue(const std::string& value) {
  std::string text;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      text += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    } else {
      text.push_back(c);
    }
  }
  return text;
}

std::string ParameterProfileText(const std::vector<TParameterSetting>& settings, const std::string& comment) {
  std::string text = "# " + comment + "\n";
  for (const TParameterSetting& setting : settings)
    text += std::to_string(setting.number) + "=" + EscapedParameterValue(setting.value) + "\n";
  return text;
}

void MergeParameterSetting(std::vector<TParameterSetting>& settings, const TParameterSetting& setting) {
  const auto held = std::find_if(settings.begin(), settings.end(),
                                 [&](const TParameterSetting& s) { return s.number == setting.number; });
  if (held != settings.end())
    held->value = setting.value;
  else
    settings.push_back(setting);
}
