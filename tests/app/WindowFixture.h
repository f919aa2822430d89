#pragma once
// Test fixtures for the main window: a window on a closed port, and a window
// whose COM1 is mapped (through the settings) to a pseudo-terminal whose far
// side the test plays.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "FOvMonitor.h"

struct WindowFixture : ::testing::Test {
  std::unique_ptr<TFOvMonitor> window = std::make_unique<TFOvMonitor>();
};

// The far side of a pseudo-terminal: what the program writes arrives here,
// and what the test writes here reaches the program as the gateway's bytes.
class PtyGateway {
 public:
  PtyGateway();
  ~PtyGateway();
  PtyGateway(const PtyGateway&) = delete;
  PtyGateway& operator=(const PtyGateway&) = delete;

  const std::string& DevicePath() const { return m_path; }
  // The next line the program wrote, CR included; "" when none came within
  // the limit (Qt events are processed while waiting, so timers fire).
  std::string NextLine(int limitMs = 5000);
  // Everything written so far and not yet taken.
  std::string Drain();
  void Send(const std::string& bytes);

 private:
  bool ReadSome(int waitMs);
  int m_master = -1;
  int m_slave = -1;
  std::string m_path;
  std::string m_pending;
};

// Maps COM1 to a pty in the settings hive before the window is made, as a
// technician's settings would map it to a real adapter.
void MapCom1(const std::string& devicePath);

// Selects COM1 in the window's port list as the user would and presses Open.
void OpenCom1(TFOvMonitor& window);

struct LinkFixture : ::testing::Test {
  PtyGateway gateway;
  std::unique_ptr<TFOvMonitor> window;
  LinkFixture();
  ~LinkFixture() override;
  // Selects COM1 and presses Open; the Refresh request starts with "%info".
  void OpenCom1();
  // Sends an acknowledgement and waits until the window has taken it.
  void Acknowledge(const std::string& line);
};

// A window on an open port with the Refresh request cleared away, so each case
// sees only the lines its own actions queue.
struct OpenLinkFixture : LinkFixture {
  using Lines = std::vector<std::string>;
  OpenLinkFixture();
  Lines Queue() const;
};

#ifdef GATEWAY_SIM
// The gateway simulator on a pty published under a link in a temporary
// folder, with COM1 mapped to it for as long as this object lives.
class SimulatedGateway {
 public:
  explicit SimulatedGateway(const QStringList& options);
  ~SimulatedGateway();
  bool Started() const { return m_started; }
  QString FilePath(const QString& name) const { return m_folder.filePath(name); }
  // Stops the simulator so that its log is complete.
  void Stop();
  // Runs a directive through the control FIFO; the simulator must have been
  // started with "--control control".
  void Control(const std::string& directive);

 private:
  QTemporaryDir m_folder;
  QProcess m_process;
  bool m_started = false;
};
#endif
