#include "WindowFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTest>
#include <stdexcept>

#include "serial/AfComPort.h"
#include "serial/AfPortControls.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"

PtyGateway::PtyGateway() {
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&m_master, &m_slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
  // Holding the slave open keeps the master readable after the program closes
  // its side, so the last bytes it wrote can still be checked.
  m_path = ttyname(m_slave);
  fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyGateway::~PtyGateway() {
  close(m_master);
  close(m_slave);
}

bool PtyGateway::ReadSome(int waitMs) {
  pollfd fd{m_master, POLLIN, 0};
  if (poll(&fd, 1, waitMs) <= 0 || !(fd.revents & POLLIN)) return false;
  char buffer[4096];
  const ssize_t n = read(m_master, buffer, sizeof buffer);
  if (n <= 0) return false;
  m_pending.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::string PtyGateway::NextLine(int limitMs) {
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    const std::size_t cr = m_pending.find('\r');
    if (cr != std::string::npos) {
      std::string line = m_pending.substr(0, cr + 1);
      m_pending.erase(0, cr + 1);
      return line;
    }
    if (clock.elapsed() > limitMs) return {};
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ReadSome(5);
  }
}

std::string PtyGateway::Drain() {
  while (ReadSome(0)) {
  }
  std::string all;
  all.swap(m_pending);
  return all;
}

void PtyGateway::Send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else QTest::qWait(1);
  }
}

void MapCom1(const std::string& devicePath) {
  TRegIniExtended settings;
  if (devicePath.empty())
    settings.DeleteKey("Ports", "COM1");
  else
    settings.WriteString("Ports", "COM1", devicePath);
}

LinkFixture::LinkFixture() {
  MapCom1(gateway.DevicePath());
  window = std::make_unique<TFOvMonitor>();
}

LinkFixture::~LinkFixture() {
  window.reset();
  MapCom1("");
}

void OpenCom1(TFOvMonitor& window) {
  TAfPortComboBox* ports = window.Form().cComPort;
  const int index = ports->findText("COM 1", Qt::MatchStartsWith);
  ASSERT_GE(index, 0) << "COM1 is not listed";
  // As the user picks it: the selector sets the port's number.
  ports->setCurrentIndex(index);
  emit ports->activated(index);
  ASSERT_EQ(window.Com().ComNumber(), 1);
  window.Form().bOpen->click();
  ASSERT_TRUE(window.Com().IsPortOpen());
}

void LinkFixture::OpenCom1() { ::OpenCom1(*window); }

OpenLinkFixture::OpenLinkFixture() {
  OpenCom1();
  EXPECT_EQ(gateway.NextLine(), "%info\r");
  window->ResetGatewayState();
}

OpenLinkFixture::Lines OpenLinkFixture::Queue() const {
  return {window->PendingCommands().begin(), window->PendingCommands().end()};
}

#ifdef GATEWAY_SIM
SimulatedGateway::SimulatedGateway(const QStringList& options) {
  const QString link = m_folder.filePath("gateway");
  // Relative paths among the options (a log file, say) land in the folder too.
  m_process.setWorkingDirectory(m_folder.path());
  m_process.start(QStringLiteral(GATEWAY_SIM), QStringList{"--link", link} + options);
  m_started = m_process.waitForStarted(5000) && QTest::qWaitFor([&] { return QFileInfo::exists(link); }, 5000);
  if (m_started) MapCom1(link.toStdString());
}

SimulatedGateway::~SimulatedGateway() {
  MapCom1("");
  Stop();
}

void SimulatedGateway::Control(const std::string& directive) {
  const int fifo = open(FilePath("control").toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fifo, 0) << "no control FIFO";
  const std::string line = directive + "\n";
  EXPECT_EQ(write(fifo, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  close(fifo);
}

void SimulatedGateway::Stop() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.terminate();
  m_process.waitForFinished(5000);
}
#endif

void LinkFixture::Acknowledge(const std::string& line) {
  const std::size_t before = window->PendingCommands().size();
  gateway.Send(line + "\r\n");
  // The acknowledgement comes back as a port event; wait for its effect.
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->PendingCommands().size() != before; }, 5000));
}
