#pragma once
// The headless runs of the window: provisioning one gateway (--provision) and
// the report alone (--report without --provision). The window is made but never
// shown; every step goes through its own dialogue, acknowledgements, parsers
// and cloud code, so what the workshop line does is what a technician's clicks
// would do.
//
// Provisioning steps, each bounded by what is left of the one timeout for the
// whole gateway:
//   port          open the port (which sends the window's Refresh request)
//   gateway       wait for ":info"; the gateway ID must pass the ID rule
//   parameters    each setting written with "%par_set" and read back with
//                 "%par_get"; a refusal or another value read back fails
//   registration  the gateway registered with the account (--account, else the
//                 selected one)
//   state         until ":state" says registered, approved or online, or the
//                 cloud record says so
//   record        the cloud record fetched
//   report        (with --report) the installation report written
// then the port is closed. The report alone runs port, gateway, record (skipped
// without a usable account) and report.
//
// Output: one line per step on `out`, "step <n>/<total> <name>: <detail> ok" or
// "... failed", then "result ok" or "result failed at <name>: <reason>".
// The exit status names the failed step (TProvisionExit).
//
// Thread: GUI thread; runs nested event loops while it waits.

#include <cstdio>

struct TCommandLine;
class TFOvMonitor;

enum TProvisionExit {
  peDone = 0,
  peUsage = 2,
  pePort = 3,
  peNoGateway = 4,
  peParameter = 5,
  peCloud = 6,
  peState = 7,
  peReport = 8,
};

int RunHeadless(TFOvMonitor& window, const TCommandLine& options, std::FILE* out);
