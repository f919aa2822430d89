#include "AfCustomComPort.h"

#include <QGuiApplication>

#include "AfComPortCore.h"
#include "AfPortProbe.h"
#include "AfPortSettingsDialog.h"

namespace {

// The wait cursor for the time of an open, restored also when the open raises.
class TWaitCursor {
 public:
  TWaitCursor() : m_active(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    if (m_active) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~TWaitCursor() {
    if (m_active) QGuiApplication::restoreOverrideCursor();
  }

 private:
  bool m_active;
};

}  // namespace

TAfCustomComPort::TAfCustomComPort(QObject* parent) : TAfCustomSerialPort(parent) {}

void TAfCustomComPort::SetComNumber(uint16_t value) {
  if (value == m_comNumber) return;
  if (IsPortOpen()) {
    ClosePort();
    m_comNumber = value;
    OpenPort();
  } else {
    m_comNumber = value;
  }
}

void TAfCustomComPort::OpenDevice() {
  TWaitCursor cursor;
  Core().OpenByNumber(m_comNumber);
}

bool TAfCustomComPort::ShowSettingsDialog() {
  // The dialog needs a port to show: the open device, or one that exists.
  if (IsPortOpen()) {
    TAfDcb current;
    if (!Core().ReadDeviceBlock(current)) return false;
  } else if (TAfPortProbe().Probe(m_comNumber) == psMissing) {
    return false;
  }
  TAfPortSettingsDialog dialog(DeviceBlock(), QStringLiteral("COM%1").arg(m_comNumber));
  if (dialog.exec() != QDialog::Accepted) return false;
  ApplyDeviceBlock(dialog.Block());
  return true;
}
