#pragma once
// Reading request targets: percent-decoding and query parameters.

#include <string>

namespace cloudsim {

// %XX sequences decoded; anything else (a "+" too) stays as it is.
std::string PercentDecode(const std::string& text);

// The decoded value of query parameter `name` in a raw request target; the value runs
// from the first "=" to the next "&", so it may hold "=" itself. `fallback` when absent.
std::string QueryParam(const std::string& target, const std::string& name, const std::string& fallback = {});

} // namespace cloudsim
