#include "OrvaneApplication.h"

#include <QMessageBox>
#include <exception>

#include "widgets/QtText.h"

TOrvaneApplication::TOrvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Qel Orvane Monitor"));
  setApplicationDisplayName(QStringLiteral("Qel Orvane Monitor"));
  m_reportError = [](const std::string& message) {
    QMessageBox::critical(activeWindow(), applicationDisplayName(), ToQString(message));
  };
}

bool TOrvaneApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    m_reportError(error.what());
  } catch (...) {
    m_reportError("Unknown error");
  }
  return false;
}
