// libFuzzer over the receive step and the dispatch of the main window: the
// bytes a gateway (or line noise) can send, cut into reads at 0xFF bytes, with
// commands waiting for acknowledgement on an open pseudo-terminal.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QDir>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FOvMonitor.h"
#include "serial/AfComPort.h"
#include "support/MyRegIniExtended.h"

namespace {

struct Harness {
  int argc = 1;
  char name[8] = "fuzz";
  char* argv[2] = {name, nullptr};
  // The hive is read only while the window starts; libFuzzer ends with _Exit,
  // so the folder is removed once the port is open rather than at exit.
  QTemporaryDir settings;
  std::unique_ptr<QApplication> application;
  std::unique_ptr<TFOvMonitor> window;
  int master = -1;
  int slave = -1;

  Harness() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!settings.isValid()) std::abort();
    qputenv("ORVANE_SETTINGS_DIR", settings.path().toLocal8Bit());
    application = std::make_unique<QApplication>(argc, argv);

    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) std::abort();
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    TRegIniExtended().WriteString("Ports", "COM1", ttyname(slave));

    window = std::make_unique<TFOvMonitor>();
    window->Com().SetComNumber(1);
    window->Com().OpenPort();
    if (!window->Com().IsPortOpen()) std::abort();
    settings.remove();
  }

  // Nobody plays the gateway: throw away what the window wrote so the pty
  // never fills up.
  void DrainMaster() {
    char buffer[4096];
    while (read(master, buffer, sizeof buffer) > 0) {
    }
  }
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

}  // namespace

// Font configuration keeps its caches for the life of the process; those are
// not leaks of the code under test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libfreetype\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& harness = TheHarness();
  TFOvMonitor& window = *harness.window;
  window.ResetGatewayState();
  window.GetParameter(97);
  window.QueueCommand("%info");
  window.QueueCommand("%reboot");

  const std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t from = 0;
  while (from <= input.size()) {
    const std::size_t cut = input.find('\xFF', from);
    window.ReceiveBytes(input.substr(from, cut == std::string::npos ? std::string::npos : cut - from));
    if (window.PendingReceived().size() >= TFOvMonitor::kMaxLineLength) __builtin_trap();
    if (cut == std::string::npos) break;
    from = cut + 1;
  }
  harness.DrainMaster();
  return 0;
}
