#pragma once
// Command line of gateway-sim.

#include "GatewayModel.h"

#include <cstddef>
#include <string>

namespace gwsim {

struct Options {
    std::string linkPath;
    GatewayConfig gateway;
    std::string scriptPath;
    std::string controlPath;
    std::string logPath;
    // With a folder: the ":state" follows the cloud's word for this gateway in the
    // file <folder>/<gateway ID> (cloud-sim --state-dir writes it).
    std::string cloudStateDir;
    bool noAck = false;
    Millis busyMs = 0;
    std::size_t splitBytes = 0;
    Millis splitGapMs = 20;
    Millis hangupAfterMs = -1;
    Millis replugAfterMs = -1;
    bool verbose = false;
};

enum class ParseResult { Run, Help, Error };

// Fills `options`; on Error `error` says what is wrong.
ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error);
const char* HelpText();

} // namespace gwsim
