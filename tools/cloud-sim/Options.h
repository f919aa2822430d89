#pragma once
// Command line of cloud-sim.

#include <string>
#include <vector>

namespace cloudsim {

struct AccountOption {
    std::string ownerId;
    std::string key;  // the text the client sends in "Authorization: " (Base64 of the key bytes)
};

struct GatewayOption {
    std::string ownerId;
    std::string gatewayId;
    std::string status;
    bool online = false;
};

struct Options {
    std::string bind = "127.0.0.1";
    int port = 8443;                   // 0: any free port (printed at start)
    std::string certificateFolder;     // default: $XDG_DATA_HOME/Qel/cloud-sim
    std::vector<AccountOption> accounts;
    std::vector<GatewayOption> gateways;
    int tokenLifetimeSeconds = 3600;
    std::string publishedVersion;      // body of files/OrvaneMonitor.ver
    std::string fault;                 // fault for every API request from the start
    std::string stateFolder;           // the status of each gateway in <folder>/<gateway ID>
    bool manualApproval = false;       // registrations wait ("reg. pending") for an approval that never comes
    bool verbose = false;
    bool expiredCertificate = false;   // serve a certificate that ended yesterday
};

enum class ParseResult { Run, Help, Error };

// Fills `options` (with the demo account when none is given); on Error `error` says why.
ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error);
const char* HelpText();

// The account that the simulator knows when no --account is given.
inline constexpr const char* kDemoOwnerId = "qel-demo";
inline constexpr const char* kDemoKey = "T3J2YW5lRGVtb0tleTIwMjY=";

} // namespace cloudsim
