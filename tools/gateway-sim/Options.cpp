#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace gwsim {

namespace {

bool ToInteger(const std::string& text, long long low, long long high, long long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

bool ToDouble(const std::string& text, double low, double high, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= low && value <= high)) return false;
    out = value;
    return true;
}

} // namespace

const char* HelpText() {
    return R"(Usage: gateway-sim --link PATH [options]

Plays an Orvane gateway on a pseudo-terminal. The pty's device is published under the
symbolic link PATH (a stale link is replaced, the link is removed at exit) and its
path is printed on the first line of standard output. Point the monitor's port at
PATH (settings hive, section "Ports") and open it.

The gateway answers every command with "OK <command>" or "ERROR <command>" (the
command word without its "%") and sends the reports the show commands switch on.

Gateway:
  --bridges N            bridges heard by the gateway (0-64, default 5)
  --bridge-interval MS   mean time between two frames of one bridge (default 4000)
  --gateway-id ID        gateway ID in ":info" (default QEL100000000004217)
  --param N=VALUE        factory value of parameter N, also restored by "%default"
                         (repeatable; defaults: 1=100245, 12=aws-prod-cloud, 61=,
                         64=8935106012345678901, 97=internet, 5640=, 5641=)
  --sim STATE            SIM card: ready (default), locked or absent; a locked SIM
                         opens when parameter 61 is set to the PIN
  --sim-pin PIN          PIN of a locked SIM (default 1234)
  --position LAT,LON     centre of the GNSS track, degrees (default 38.70710,-9.13550)
  --cloud-state-dir DIR  ":state" as the cloud sees the gateway: "not registered"
                         until DIR/<gateway ID> exists, then the cloud's status
                         word in it ("connected,Online" once approved and
                         connected); cloud-sim --state-dir DIR writes these files
  --gnss-fix-ms MS       power-up to first valid fix (default 4000)
  --reboot-ms MS         silence after "%reboot" (default 2000)
  --seed N               seed for bridge IDs, levels and drift (default: from the clock)

Test controls:
  --no-ack               withhold acknowledgements from the start (SIGUSR1 toggles)
  --busy MS              a command that finds the gateway idle keeps it busy for MS;
                         it then answers that command and every line that came
                         meanwhile (a retransmission, say) back to back
  --unanswered-param N   "%par_get N" is acknowledged but never answered with ":get"
                         (repeatable), as a faulty firmware does
  --split N              write in pieces of at most N bytes ...
  --split-gap MS         ... with this pause between pieces (default 20)
  --hangup-after MS      close the line MS after a program first opened the port, as
                         if the adapter were unplugged; the program then exits
  --replug-after MS      with --hangup-after or "hangup": plug in again after MS on a
                         new pty under the same link (its path printed again)
  --script FILE          timed lines: "<ms> <text>" or "+<ms> <text>" (ms from the
                         first open, or from the previous entry); <text> is sent as a
                         line, or run as a directive when it starts with "@".
                         Escapes \r \n \t \\ \xHH.
  --control PATH         make a FIFO at PATH; each line written to it is a directive
  --log FILE             write every received line to FILE (one per line, flushed)
  --verbose              show the traffic on standard error
  --help                 this text

Directives (script "@..." and control FIFO):
  send TEXT              send TEXT as a line (CR LF appended)
  raw TEXT               send TEXT exactly (no line end added)
  ack on|off|toggle      acknowledge commands or not
  hangup                 unplug now (see --replug-after)
  set N VALUE            write parameter N (read-only ones too)
  ignition on|off        ignition input in ":io"
  sim ready|locked|absent
  state TEXT|auto        report TEXT in ":state" (e.g. "not approved,Offline"),
                         or follow the gateway's own connection again
  reboot                 power-cycle the gateway
  quit                   stop the simulator

Signals: SIGUSR1 toggles acknowledgements; SIGINT, SIGTERM and SIGHUP stop cleanly.
)";
}

ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    options.gateway.seed = static_cast<std::uint32_t>(std::time(nullptr));
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") return ParseResult::Help;
        if (option == "--no-ack") {
            options.noAck = true;
            continue;
        }
        if (option == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value (see --help)";
            return ParseResult::Error;
        }
        const std::string value = argv[++i];
        long long n = 0;
        auto number = [&](long long low, long long high) {
            if (ToInteger(value, low, high, n)) return true;
            error = option + ": expected a number from " + std::to_string(low) + " to " + std::to_string(high);
            return false;
        };
        if (option == "--link") options.linkPath = value;
        else if (option == "--script") options.scriptPath = value;
        else if (option == "--control") options.controlPath = value;
        else if (option == "--log") options.logPath = value;
        else if (option == "--cloud-state-dir") options.cloudStateDir = value;
        else if (option == "--gateway-id") options.gateway.gatewayId = value;
        else if (option == "--sim-pin") options.gateway.simPin = value;
        else if (option == "--bridges") {
            if (!number(0, 64)) return ParseResult::Error;
            options.gateway.bridges.count = static_cast<int>(n);
        } else if (option == "--bridge-interval") {
            if (!number(50, 600000)) return ParseResult::Error;
            options.gateway.bridges.intervalMs = n;
        } else if (option == "--seed") {
            if (!number(0, 4294967295LL)) return ParseResult::Error;
            options.gateway.seed = static_cast<std::uint32_t>(n);
        } else if (option == "--gnss-fix-ms") {
            if (!number(0, 3600000)) return ParseResult::Error;
            options.gateway.gnssFixMs = n;
        } else if (option == "--reboot-ms") {
            if (!number(0, 600000)) return ParseResult::Error;
            options.gateway.rebootMs = n;
        } else if (option == "--busy") {
            if (!number(0, 600000)) return ParseResult::Error;
            options.busyMs = n;
        } else if (option == "--split") {
            if (!number(0, 65536)) return ParseResult::Error;
            options.splitBytes = static_cast<std::size_t>(n);
        } else if (option == "--split-gap") {
            if (!number(0, 10000)) return ParseResult::Error;
            options.splitGapMs = n;
        } else if (option == "--hangup-after") {
            if (!number(0, 86400000)) return ParseResult::Error;
            options.hangupAfterMs = n;
        } else if (option == "--replug-after") {
            if (!number(0, 86400000)) return ParseResult::Error;
            options.replugAfterMs = n;
        } else if (option == "--param") {
            const auto eq = value.find('=');
            if (eq == std::string::npos || !ToInteger(value.substr(0, eq), 0, 65535, n)) {
                error = "--param: expected N=VALUE";
                return ParseResult::Error;
            }
            options.gateway.factoryOverrides[static_cast<int>(n)] = value.substr(eq + 1);
        } else if (option == "--unanswered-param") {
            if (!number(0, 65535)) return ParseResult::Error;
            options.gateway.unanswered.insert(static_cast<int>(n));
        } else if (option == "--sim") {
            if (value == "ready") options.gateway.simCard = SimCard::Ready;
            else if (value == "locked") options.gateway.simCard = SimCard::Locked;
            else if (value == "absent") options.gateway.simCard = SimCard::Absent;
            else {
                error = "--sim: expected ready, locked or absent";
                return ParseResult::Error;
            }
        } else if (option == "--position") {
            const auto comma = value.find(',');
            double lat = 0;
            double lon = 0;
            if (comma == std::string::npos || !ToDouble(value.substr(0, comma), -89.0, 89.0, lat) ||
                !ToDouble(value.substr(comma + 1), -180.0, 180.0, lon)) {
                error = "--position: expected LAT,LON in degrees";
                return ParseResult::Error;
            }
            options.gateway.latitude = lat;
            options.gateway.longitude = lon;
        } else {
            error = "unknown option " + option + " (see --help)";
            return ParseResult::Error;
        }
    }
    if (options.linkPath.empty()) {
        error = "--link PATH is required (see --help)";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

} // namespace gwsim
