#pragma once
// Small shared vocabulary of the gateway simulator.

#include <cstdint>
#include <functional>
#include <string>

namespace gwsim {

// Monotonic milliseconds; only differences mean anything.
using Millis = std::int64_t;

// Receives one line the gateway sends, without its line end.
using LineSink = std::function<void(const std::string& line)>;

} // namespace gwsim
