// A settings file that cannot be read or written never stops the window: it
// starts with what could be read, says once which file is wrong and why, and
// a write that fails later is shown in the status line instead of unwinding
// through the handler that made it.
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "FOvMonitor.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

void PrintProblem(const std::string& text) { std::fprintf(stderr, "orvane-monitor: %s\n", text.c_str()); }

}  // namespace

void TFOvMonitor::WatchSettings() {
  if (!m_showSettingsProblem)
    m_showSettingsProblem = [this](const std::string& text) {
      QMessageBox::warning(this, QStringLiteral("Settings"), ToQString(text), QMessageBox::Ok);
    };
  m_settingsStartProblem.clear();
  m_lastSettingsWriteError.clear();
  m_startingUp = true;
  Settings->SetWriteErrorHandler([this](const ESettingsWriteError& error) { SettingsWriteFailed(error.what()); });
  const std::string readError = Settings->ReadError();
  // The read error explains every write that fails after it; it alone is said.
  if (!readError.empty())
    m_settingsStartProblem = "The settings file cannot be read (" + readError +
                             "). The program starts with what could be read and defaults for the rest, "
                             "and leaves the file as it is until it is repaired.";
}

void TFOvMonitor::SettingsWriteFailed(const std::string& message) {
  if (m_startingUp) {
    if (m_settingsStartProblem.empty())
      m_settingsStartProblem = message + ". Changes of settings are not kept until this is repaired.";
    return;
  }
  ui->vStatus->SetCaption(" " + message);
  ui->vStatus->TriggerColor(clRed);
  // Every change may fail the same way; the terminal hears of it once.
  if (message != m_lastSettingsWriteError) PrintProblem(message);
  m_lastSettingsWriteError = message;
}

void TFOvMonitor::ReportSettingsAtStart() {
  m_startingUp = false;
  if (m_settingsStartProblem.empty()) return;
  PrintProblem(m_settingsStartProblem);
  // Said once the window is up: a message box before it would stand alone.
  QTimer::singleShot(0, this, [this, text = m_settingsStartProblem] { m_showSettingsProblem(text); });
}
