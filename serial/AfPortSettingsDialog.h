#pragma once
// TAfPortSettingsDialog: this system's dialog for a port's line settings
// (speed, data bits, parity, stop bits, flow control). It edits a copy of a
// device-control block; fields it does not show are kept.
//
// Thread: GUI thread only.

#include <QDialog>

#include "AfComTypes.h"

class QComboBox;

class TAfPortSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  TAfPortSettingsDialog(const TAfDcb& block, const QString& portName, QWidget* parent = nullptr);

  // The shown block with the user's choices.
  TAfDcb Block() const;

  QComboBox* SpeedBox() const { return m_speed; }
  QComboBox* DataBitsBox() const { return m_dataBits; }
  QComboBox* ParityBox() const { return m_parity; }
  QComboBox* StopBitsBox() const { return m_stopBits; }
  QComboBox* FlowBox() const { return m_flow; }

 private:
  TAfDcb m_block;
  QComboBox* m_speed;
  QComboBox* m_dataBits;
  QComboBox* m_parity;
  QComboBox* m_stopBits;
  QComboBox* m_flow;
};
