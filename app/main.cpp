// Program entry: the application, its one window, the message loop.
#include "FOvMonitor.h"
#include "OrvaneApplication.h"
#include "support/VersionRecord.h"

// The version that FileVersionText reads back from this executable.
ORVANE_EMBED_VERSION_RECORD(PROJECT_VERSION_MAJOR, PROJECT_VERSION_MINOR, PROJECT_VERSION_PATCH,
                            PROJECT_VERSION_TWEAK);

int main(int argc, char** argv) {
  TOrvaneApplication application(argc, argv);
  TFOvMonitor window;
  window.show();
  return application.exec();
}
