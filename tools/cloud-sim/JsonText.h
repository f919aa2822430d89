#pragma once
// JSON text for the simulator's answers: string literals and small objects built as text.

#include <string>
#include <utility>
#include <vector>

namespace cloudsim {

// A JSON string literal (quotes included); control bytes escaped, other bytes as they are.
std::string JsonString(const std::string& text);

// {"message":"..."}: the body of every error answer.
std::string JsonMessage(const std::string& message);

// An object from members whose values are already JSON text.
std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members);

} // namespace cloudsim
