#pragma once
// TAfCustomComPort: the serial component for a port named by number (the
// system's COMn, turned into a device path by the port map).
//
// Thread: GUI thread only.

#include <cstdint>

#include "AfCustomSerialPort.h"

class TAfCustomComPort : public TAfCustomSerialPort {
  Q_OBJECT

 public:
  explicit TAfCustomComPort(QObject* parent = nullptr);

  // Shows this system's line-settings dialog for "COM<n>" with the component's
  // settings; on OK applies the dialog's block and returns true. False without
  // a dialog when the port is neither open nor present.
  bool ShowSettingsDialog() override;

 protected:
  uint16_t ComNumber() const { return m_comNumber; }
  // While open: closes, stores and opens again (both events fire).
  void SetComNumber(uint16_t value);
  void OpenDevice() override;

 private:
  uint16_t m_comNumber = 0;
};
