#include "OrvaneApplication.h"

#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <new>

#include "cloud/MyInternet.h"
#include "serial/AfSafeSync.h"
#include "widgets/QtText.h"

TOrvaneApplication::TOrvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The name only: an explicit display name is appended by the platform to
  // every window title ("... v1.2.3.4 — Qel Orvane Monitor"); without one the
  // display name falls back to this and the caption stays the window's own.
  setApplicationName(QStringLiteral("Qel Orvane Monitor"));
  // Ties the windows to the installed desktop entry (its icon and name in the
  // task switcher, Wayland's application ID).
  setDesktopFileName(QStringLiteral("com.qel.OrvaneMonitor"));
  setWindowIcon(QIcon(QStringLiteral(":/orvane.png")));
  m_reportError = [](const std::string& message) {
    QMessageBox::critical(activeWindow(), applicationDisplayName(), ToQString(message));
  };
  AfSafeSync::SetExceptionHandler([this](std::exception_ptr error) { ReportException(std::move(error)); });
  // A request made on the GUI thread holds the window until it ends: say so with the
  // busy cursor. Requests of worker threads (map tiles, version check) leave it alone.
  SetWebBusyHook([](bool busy) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return;
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  });
}

TOrvaneApplication::~TOrvaneApplication() {
  SetWebBusyHook({});
  AfSafeSync::SetExceptionHandler(nullptr);
}

void TOrvaneApplication::ReportException(std::exception_ptr error) noexcept {
  if (!error) return;
  // The texts of the short cases fit a string's own buffer: nothing is
  // allocated for them when memory is what ran out.
  std::string message;
  bool outOfMemory = false;
  try {
    std::rethrow_exception(std::move(error));
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  } catch (const std::exception& e) {
    try {
      message = e.what();
    } catch (...) {
      outOfMemory = true;
    }
  } catch (...) {
    message = "Unknown error";
  }
  if (outOfMemory) {
    std::fputs("orvane-monitor: out of memory; the action was abandoned and the window goes on\n", stderr);
  } else {
    std::fprintf(stderr, "orvane-monitor: %s\n", message.c_str());
  }
  // One message box at a time: a timer that keeps failing would otherwise
  // stack them up, each in its own nested event loop.
  if (m_reporting) return;
  m_reporting = true;
  try {
    m_reportError(outOfMemory ? std::string("Out of memory") : message);
  } catch (...) {
    std::fputs("orvane-monitor: the error message could not be shown\n", stderr);
  }
  m_reporting = false;
}

bool TOrvaneApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportException(std::current_exception());
  }
  return false;
}
