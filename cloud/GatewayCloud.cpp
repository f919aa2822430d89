#include "GatewayCloud.h"

#include <algorithm>

#include "support/MyFunctions.h"

namespace {

constexpr std::size_t kGatewayIDLength = 18;
constexpr const char* kGatewayIDPrefix = "QEL";

}  // namespace

bool IsGatewayID(const std::string& id) { return id.size() == kGatewayIDLength && id.starts_with(kGatewayIDPrefix); }

std::optional<std::string> CustomGatewayIDFromEntry(const std::string& entry) {
  const std::string id = UpperText(entry);
  if (!IsGatewayID(id)) return std::nullopt;
  if (!std::all_of(id.begin() + 3, id.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  return id;
}

std::string ConfigValueText(const std::string& value, const std::string& desiredValue) {
  return value == desiredValue ? value : value + " => " + desiredValue;
}
