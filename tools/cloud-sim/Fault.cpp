#include "Fault.h"

#include <cstdlib>

namespace cloudsim {

namespace {

bool NumberIn(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::atoi(text.c_str());
    return out >= low && out <= high;
}

} // namespace

bool ParseFault(const std::string& text, Fault& fault) {
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : text.substr(equals + 1);
    const bool hasValue = equals != std::string::npos;
    Fault parsed;
    if (name == "none" && !hasValue) parsed.kind = FaultKind::None;
    else if (name == "hang" && !hasValue) parsed.kind = FaultKind::Hang;
    else if (name == "garbage" && !hasValue) parsed.kind = FaultKind::Garbage;
    else if (name == "drop" && !hasValue) parsed.kind = FaultKind::Drop;
    else if (name == "slow" && NumberIn(value, 0, 600000, parsed.value)) parsed.kind = FaultKind::Slow;
    else if (name == "status" && NumberIn(value, 100, 599, parsed.value)) parsed.kind = FaultKind::Status;
    else if (name == "trickle" && NumberIn(value, 1, 60000, parsed.value)) parsed.kind = FaultKind::Trickle;
    else if (name == "huge" && NumberIn(value, 1, 999999999, parsed.value)) parsed.kind = FaultKind::Huge;
    else if (name == "to-http" && !hasValue) parsed.kind = FaultKind::ToHttp;
    else return false;
    fault = parsed;
    return true;
}

} // namespace cloudsim
