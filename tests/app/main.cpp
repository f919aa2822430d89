// The window tests run on the offscreen platform with a private settings
// folder, inside the application object the program itself uses.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "OrvaneApplication.h"
#include "cloud/VersionCheck.h"
#include "support/MyRegIniExtended.h"
#include "support/VersionRecord.h"

// A version with zero parts: the caption must still show all four numbers.
ORVANE_EMBED_VERSION_RECORD(2, 0, 0, 0);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settingsDir;
  qputenv("ORVANE_SETTINGS_DIR", settingsDir.path().toLocal8Bit());
  // Version checks go to a closed port on this machine, never to the network.
  TRegIniExtended().WriteString("Endpoints", kVersionHostValue, "127.0.0.1:1");
  TOrvaneApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
