// Program entry: the command line, the application, its one window, the message loop.
#include <cstdio>

#include "CommandLine.h"
#include "DisplayCheck.h"
#include "FOvMonitor.h"
#include "OrvaneApplication.h"
#include "Provisioning.h"
#include "cloud/MyInternet.h"
#include "support/VersionRecord.h"

// The version that FileVersionText reads back from this executable.
ORVANE_EMBED_VERSION_RECORD(PROJECT_VERSION_MAJOR, PROJECT_VERSION_MINOR, PROJECT_VERSION_PATCH,
                            PROJECT_VERSION_TWEAK);

int main(int argc, char** argv) {
  // Read before the application object, so --help and --version need no display.
  TCommandLine options;
  if (const auto status = RunCommandLine(argc, argv, options)) return *status;
  if (options.Headless()) {
    // No window is shown, so none needs a display: a workshop line runs from
    // udev rules and shell loops.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TOrvaneApplication application(argc, argv);
    // A message box nobody can see would hold the line for ever: errors that reach
    // the event loop go to standard error, and the waiting step runs into its timeout.
    application.SetErrorReporter([](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
    TFOvMonitor window;
    return RunHeadless(window, options, stdout);
  }
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
