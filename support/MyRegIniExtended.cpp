#include "MyRegIniExtended.h"

namespace {

bool ReadDecimal32(const std::string &text, std::int32_t &result) {
  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i >= text.size()) return false;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return false;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return false;
  result = static_cast<std::int32_t>(value);
  return true;
}

bool IsText(const THiveValue &value) {
  return value.type == rdString || value.type == rdExpandString;
}

std::string TextOf(const THiveValue &value) {
  std::string text = value.data;
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

} // namespace

TRegIniExtended::TRegIniExtended(const std::string &key, const std::string &hiveFileName)
    : m_key(THiveData::NormalizePath(key)), m_hive(hiveFileName) {}

std::string TRegIniExtended::SectionPath(const std::string &section) const {
  const std::string sub = THiveData::NormalizePath(section);
  if (sub.empty()) return m_key;
  return m_key.empty() ? sub : m_key + "\\" + sub;
}

const THiveValue *TRegIniExtended::FindValue(const std::string &section,
                                             const std::string &name) const {
  const THiveKey *key = m_hive.Load().FindKey(SectionPath(section));
  return key ? key->FindValue(name) : nullptr;
}

std::string TRegIniExtended::ReadString(const std::string &section, const std::string &name,
                                        const std::string &defaultValue) const {
  const THiveValue *value = FindValue(section, name);
  return value && IsText(*value) ? TextOf(*value) : defaultValue;
}

bool TRegIniExtended::WriteString(const std::string &section, const std::string &name,
                                  const std::string &text) {
  return WriteValue(section, THiveValue{name, rdString, text + '\0'});
}

std::int32_t TRegIniExtended::ReadInteger(const std::string &section, const std::string &name,
                                          std::int32_t defaultValue) const {
  const THiveValue *value = FindValue(section, name);
  if (!value) return defaultValue;
  if (value->type == rdInteger && value->data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
      number = (number << 8) | static_cast<unsigned char>(value->data[static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(number);
  }
  std::int32_t number;
  if (IsText(*value) && ReadDecimal32(TextOf(*value), number)) return number;
  return defaultValue;
}

bool TRegIniExtended::WriteInteger(const std::string &section, const std::string &name,
                                   std::int32_t value) {
  return WriteString(section, name, std::to_string(value));
}

void TRegIniExtended::ReadSection(const std::string &section,
                                  std::vector<std::string> &names) const {
  names.clear();
  if (const THiveKey *key = m_hive.Load().FindKey(SectionPath(section)))
    for (const auto &value : key->values) names.push_back(value.name);
}

std::vector<std::string> TRegIniExtended::ReadSection(const std::string &section) const {
  std::vector<std::string> names;
  ReadSection(section, names);
  return names;
}

std::vector<std::pair<std::string, std::string>> TRegIniExtended::ReadSectionValues(
    const std::string &section) const {
  std::vector<std::pair<std::string, std::string>> values;
  if (const THiveKey *key = m_hive.Load().FindKey(SectionPath(section)))
    for (const auto &value : key->values)
      if (IsText(value)) values.emplace_back(value.name, TextOf(value));
  return values;
}

bool TRegIniExtended::DeleteKey(const std::string &section, const std::string &name) {
  if (!FindValue(section, name)) return true;
  const std::string path = SectionPath(section);
  return Update([&](THiveData &data) {
    // The value may already be gone in the file another copy wrote meanwhile.
    if (data.FindKey(path)) data.CreateKey(path).RemoveValue(name);
  });
}

std::string TRegIniExtended::ReadBinaryString(const std::string &section,
                                              const std::string &name,
                                              const std::string &defaultValue) const {
  const THiveValue *value = FindValue(section, name);
  if (!value) return defaultValue;
  if (value->data.empty()) return {};
  if (IsText(*value) || value->type == rdBinary) return value->data;
  return defaultValue;
}

bool TRegIniExtended::WriteBinaryString(const std::string &section, const std::string &name,
                                        const std::string &bytes) {
  return WriteValue(section, THiveValue{name, rdBinary, bytes});
}

bool TRegIniExtended::SectionExists(const std::string &section) const {
  return m_hive.Load().FindKey(SectionPath(section)) != nullptr;
}

bool TRegIniExtended::ValueExists(const std::string &section, const std::string &name) const {
  return FindValue(section, name) != nullptr;
}

bool TRegIniExtended::ReadValue(const std::string &section, const std::string &name,
                                THiveValue &value) const {
  const THiveValue *found = FindValue(section, name);
  if (!found) return false;
  value = *found;
  return true;
}

bool TRegIniExtended::WriteValue(const std::string &section, const THiveValue &value) {
  const std::string path = SectionPath(section);
  return Update([&](THiveData &data) { data.CreateKey(path).SetValue(value); });
}

bool TRegIniExtended::Update(const std::function<void(THiveData &)> &change) {
  if (!m_onWriteError) {
    m_hive.Update(change);
    return true;
  }
  try {
    m_hive.Update(change);
    return true;
  } catch (const ESettingsWriteError &error) {
    m_onWriteError(error);
    return false;
  }
}

std::string TRegIniExtended::ReadError() const {
  m_hive.Load();
  return m_hive.LastReadError();
}
