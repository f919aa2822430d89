#pragma once
// Faults that the simulator plays on request, so that tests and trainees see how the
// monitor copes with a slow, dead or broken cloud.

#include <string>

namespace cloudsim {

enum class FaultKind { None, Slow, Hang, Garbage, Status, Drop, Trickle, Huge, ToHttp };

struct Fault {
    FaultKind kind = FaultKind::None;
    int value = 0;  // milliseconds for Slow and Trickle, the status for Status, bytes for Huge
};

// "none", "slow=MS", "hang", "garbage", "status=CODE" (100-599), "drop",
// "trickle=MS" (1-60000), "huge=BYTES" (1-999999999), "to-http".
bool ParseFault(const std::string& text, Fault& fault);

} // namespace cloudsim
