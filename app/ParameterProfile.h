#pragma once
// A parameter profile: what a workshop keeps per customer, the gateway
// parameters to write, one "NUMBER=VALUE" per line. Blank lines and lines
// whose first non-blank character is "#" are comments. The value is bytes as
// they stand up to the line end (blanks kept); "\xHH" stands for one byte and
// "\\" for a backslash, so any byte can be written. The same form is taken by
// the "--set NUMBER=VALUE" option.
//
// Failure: by result; `error` names the line and what is wrong with it.
// Thread: any; pure functions.

#include <string>
#include <vector>

struct TParameterSetting {
  int number = 0;
  std::string value;
  bool operator==(const TParameterSetting&) const = default;
};

// One "NUMBER=VALUE" (number 0 to 65535, escapes decoded).
bool ParseParameterSetting(const std::string& text, TParameterSetting& setting, std::string& error);

// A whole profile; CR before LF is ignored. Settings keep the file's order.
bool ParseParameterProfile(const std::string& text, std::vector<TParameterSetting>& settings, std::string& error);

// A value with every byte outside printable ASCII, and the backslash, escaped:
// ParseParameterSetting reads it back to the same bytes.
std::string EscapedParameterValue(const std::string& value);

// The profile text of the settings, under a comment line (without "#").
std::string ParameterProfileText(const std::vector<TParameterSetting>& settings, const std::string& comment);

// Sets `setting` in `settings`: a number already there takes the new value in
// its place (a later setting wins), another is appended.
void MergeParameterSetting(std::vector<TParameterSetting>& settings, const TParameterSetting& setting);
