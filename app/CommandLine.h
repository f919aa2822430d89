#pragma once
// The program's command line:
//   --help, --version     print and stop (the version is the record's text)
//   --port COMn           select port n in the window (n = 1 to 1025; "COM 1" and
//                         "com1" are taken too)
//   --open                open the selected port once the window is up
//   --trace FILE          append the gateway dialogue and cloud requests to FILE
//   --provision           provision the gateway on --port without a window (see
//                         Provisioning.h), with --account ID, --profile FILE,
//                         --set NUMBER=VALUE (repeatable), --report FILE, --timeout SECONDS
//   --report FILE         alone (with --port): read the gateway without a window
//                         and write its installation report
// It is read before the application object exists, so --help and --version need
// no display. A usage error (unknown option, bad value, stray argument) gives a
// message and exit status 2.
//
// Thread: GUI thread (ApplyCommandLine touches the window).

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ParameterProfile.h"

class TFOvMonitor;

struct TCommandLine {
  uint16_t port = 0;  // 0: as the window chooses
  bool open = false;
  std::string traceFile;
  // The headless runs.
  bool provision = false;
  std::string reportFile;
  std::string accountId;    // empty: the selected account
  std::string profileFile;  // read by RunCommandLine into `settings`
  // The --set options in order; RunCommandLine puts the profile's in front.
  std::vector<TParameterSetting> settings;
  int timeoutSeconds = 60;
  bool Headless() const { return provision || !reportFile.empty(); }
};

struct TCommandLineOutcome {
  // Set when the program stops at once with this status.
  std::optional<int> exitStatus;
  std::string out;  // for standard output (help, version)
  std::string err;  // for standard error
};

// arguments[0] is the program. Reads only: opens no file.
TCommandLineOutcome ParseCommandLine(const QStringList& arguments, TCommandLine& options);

// Parses and reports as the program does: prints what there is to print and
// opens the trace file. Returns the exit status when the program must stop.
std::optional<int> RunCommandLine(int argc, char** argv, TCommandLine& options);

// Selects the port in the window and schedules its opening on the next pass of
// the event loop. A port that is not listed is reported on standard error and
// is neither selected nor opened. Returns false in that case.
bool ApplyCommandLine(TFOvMonitor& window, const TCommandLine& options);
