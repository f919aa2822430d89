#include "Options.h"

#include "Fault.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cloudsim {

namespace {

bool ToInteger(const std::string& text, long low, long high, int& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

std::string DefaultCertificateFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data) return std::string(data) + "/Qel/cloud-sim";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/Qel/cloud-sim";
}

// "OWNER:KEY"; the key may itself hold ":" (only the first one separates).
bool ParseAccount(const std::string& text, AccountOption& account) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    account = {text.substr(0, colon), text.substr(colon + 1)};
    return true;
}

// "OWNER:GATEWAY[:STATUS[:online]]"
bool ParseGateway(const std::string& text, GatewayOption& gateway) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 4 || parts[0].empty() || parts[1].empty()) return false;
    gateway.ownerId = parts[0];
    gateway.gatewayId = parts[1];
    gateway.status = parts.size() > 2 && !parts[2].empty() ? parts[2] : "approved";
    if (parts.size() > 3 && parts[3] != "online" && parts[3] != "offline") return false;
    gateway.online = parts.size() > 3 && parts[3] == "online";
    return true;
}

} // namespace

const char* HelpText() {
    return R"(Usage: cloud-sim [options]

Plays the Orvane cloud over HTTPS on this machine: the token endpoint, the gateway
endpoints of the API and the published version file. At start it prints two lines on
standard output:
  port N                 the port it listens on
  certificate PATH       its self-signed certificate (PEM)
Let the monitor trust it with ORVANE_CA_FILE=PATH and point a server row at it in the
settings hive (section "Endpoints", e.g. "aws-test-cloud"="127.0.0.1:N").

Server:
  --bind ADDRESS         address to listen on (default 127.0.0.1)
  --port N               port (default 8443; 0 picks a free one)
  --cert-dir DIR         where the certificate is kept; made at the first start
                         (default $XDG_DATA_HOME/Qel/cloud-sim)

Cloud:
  --account OWNER:KEY    an account and its API key as the client sends it (Base64 of
                         the key bytes); repeatable. Default: one demo account,
                         )" "qel-demo:T3J2YW5lRGVtb0tleTIwMjY=" R"(
  --gateway OWNER:ID[:STATUS[:online|offline]]
                         a gateway already registered to OWNER (default status
                         approved, offline); repeatable
  --token-lifetime S     expires_in of issued tokens, seconds (default 3600)
  --published-version V  body of files/OrvaneMonitor.ver (default: the monitor's own
                         version, so it reads "up to date")
  --state-dir DIR        keep each gateway's status word in DIR/<gateway ID> (removed
                         when the gateway is deleted), for gateway-sim
                         --cloud-state-dir DIR: the gateway then reports what the
                         cloud says of it
  --manual-approval      registrations stay "reg. pending" even when they ask to
                         be approved at once (an account whose gateways an
                         administrator approves)

Test controls:
  --fault FAULT          answer every API request with FAULT from the start:
                         slow=MS (answer after MS), hang (never answer), garbage (a
                         body that is not JSON), status=CODE (that status with a JSON
                         error), drop (cut the connection in the middle of the body),
                         trickle=MS (a 64 KiB answer, one byte every MS), huge=BYTES
                         (a 200 answer of that size), to-http (a redirect to the same
                         address over plain http)
  --expired-certificate  serve a certificate that expired yesterday (kept apart from
                         the usual one in the same folder; printed as usual)
  --verbose              one line per request on standard error
  --help                 this text

While it runs, /sim/... requests steer it (see the README): PUT /sim/fault sets a
fault for the next requests, GET /sim/journal lists the API requests received.
)";
}

ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") return ParseResult::Help;
        if (option == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (option == "--manual-approval") {
            options.manualApproval = true;
            continue;
        }
        if (option == "--expired-certificate") {
            options.expiredCertificate = true;
            continue;
        }
        static const std::string kValued[] = {"--bind", "--port", "--cert-dir", "--account", "--gateway",
                                              "--token-lifetime", "--published-version", "--fault",
                                              "--state-dir"};
        if (std::find(std::begin(kValued), std::end(kValued), option) == std::end(kValued)) {
            error = "unknown option " + option;
            return ParseResult::Error;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return ParseResult::Error;
        }
        const std::string value = argv[++i];
        bool valid = true;
        if (option == "--bind") {
            options.bind = value;
        } else if (option == "--port") {
            valid = ToInteger(value, 0, 65535, options.port);
        } else if (option == "--cert-dir") {
            options.certificateFolder = value;
        } else if (option == "--account") {
            AccountOption account;
            valid = ParseAccount(value, account);
            if (valid) options.accounts.push_back(account);
        } else if (option == "--gateway") {
            GatewayOption gateway;
            valid = ParseGateway(value, gateway);
            if (valid) options.gateways.push_back(gateway);
        } else if (option == "--token-lifetime") {
            valid = ToInteger(value, -86400, 10 * 86400, options.tokenLifetimeSeconds);
        } else if (option == "--published-version") {
            options.publishedVersion = value;
        } else if (option == "--state-dir") {
            options.stateFolder = value;
        } else if (option == "--fault") {
            Fault fault;
            valid = ParseFault(value, fault);
            options.fault = value;
        }
        if (!valid) {
            error = "invalid value for " + option + ": " + value;
            return ParseResult::Error;
        }
    }
    if (options.certificateFolder.empty()) options.certificateFolder = DefaultCertificateFolder();
    if (options.accounts.empty()) options.accounts.push_back({kDemoOwnerId, kDemoKey});
    return ParseResult::Run;
}

} // namespace cloudsim
