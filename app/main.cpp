// Program entry: the command line, the application, its one window, the message loop.
#include "CommandLine.h"
#include "DisplayCheck.h"
#include "FOvMonitor.h"
#include "OrvaneApplication.h"
#include "cloud/MyInternet.h"
#include "support/VersionRecord.h"

#include <cstdio>

// The version that FileVersionText reads back from this executable.
ORVANE_EMBED_VERSION_RECORD(PROJECT_VERSION_MAJOR, PROJECT_VERSION_MINOR, PROJECT_VERSION_PATCH,
                            PROJECT_VERSION_TWEAK);

int main(int argc, char** argv) {
  // Read before the application object, so --help and --version need no display.
  TCommandLine options;
  if (const auto status = RunCommandLine(argc, argv, options)) return *status;
  if (const auto message = NoDisplayMessage({argv, argv + argc}, ProcessEnvironment())) {
    std::fputs(message->c_str(), stderr);
    return 1;
  }
  // Trust settings that cannot work are told once, here, rather than by every request
  // failing on a certificate without saying why.
  for (const std::string& problem : WebTrustProblems()) std::fprintf(stderr, "orvane-monitor: %s\n", problem.c_str());
  TOrvaneApplication application(argc, argv);
  TFOvMonitor window;
  window.show();
  ApplyCommandLine(window, options);
  return application.exec();
}
