#pragma once
// TAfPortComboBox: a drop-down list of serial ports COM1..COM<MaxComPorts>,
// shown as "COM <n>" with the device path as the item's tooltip. Picking one
// sets the ComNumber of the linked TAfComPort (which reopens an open port on
// the new number). Ports are probed without opening them (TAfPortProbe).
// The list is probed again each time it drops down, so an adapter plugged in
// (or pulled out) while the program runs shows (or goes) without a restart.
//
// Each item's data (Qt::UserRole) is the port number in the low 16 bits and
// the probe state (TAfPortState) in the high 16 bits.
//
// Thread: GUI thread only.

#include <QComboBox>
#include <QPointer>
#include <cstdint>
#include <functional>

#include "AfComPort.h"
#include "AfComTypes.h"
#include "AfPortProbe.h"

enum TAfPortCtlOption { pcCheckExist, pcDisableOpen, pcHighlightOpen };
using TAfPortCtlOptions = TAfSet<TAfPortCtlOption>;

class TAfPortComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TAfPortComboBox(QWidget* parent = nullptr);

  // The linked port; cleared by itself when that component is destroyed.
  // Linking selects the port's ComNumber in the list.
  TAfComPort* ComPort() const { return m_comPort; }
  void SetComPort(TAfComPort* port);
  TAfPortCtlOptions Options() const { return m_options; }
  void SetOptions(TAfPortCtlOptions options);
  int16_t MaxComPorts() const { return m_maxComPorts; }
  void SetMaxComPorts(int16_t count);

  // The stored (selected) port number; 0 for none.
  uint16_t ComNumber() const { return m_comNumber; }
  // Probes the ports again and lists them; the selection stays where it was.
  void RebuildList();
  // The probe before the list drops down. Unlike RebuildList it never moves the
  // selection: the selected port keeps its item even when its adapter is gone,
  // and no selection stays no selection. The stored number and the linked port
  // are not touched.
  void Reprobe();
  // Selects port number as a pick would, without reopening: stores it and sets
  // the linked port's ComNumber. False (nothing changed) when it is not listed.
  bool SetComNumber(uint16_t number);
  // Selects the stored number, or the first item (storing its number), or
  // stores 0 for an empty list.
  void SelectComNumber();

  static uint16_t ItemPortNumber(uint32_t value) { return static_cast<uint16_t>(value & 0xFFFF); }
  static TAfPortState ItemState(uint32_t value) { return static_cast<TAfPortState>(value >> 16); }
  uint32_t ItemValue(int index) const;
  // Text colour of an item in the dropped-down list: grey for a port in use
  // and button text for a free one while pcHighlightOpen is set and the item
  // is drawn plain; invalid (the style's own) otherwise.
  QColor ItemTextColor(int index, bool plain) const;

  // Probes again (Reprobe), then drops the list down.
  void showPopup() override;

  // The ordinary change handling, run before the linked port is changed.
  std::function<void(QObject* sender)> OnChange;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void UserChange(int index);
  // Lists the probed ports; keep (when not 0) is listed whatever its state.
  void FillList(int keep);
  int IndexOfPort(int number) const;

  QPointer<TAfComPort> m_comPort;
  TAfPortCtlOptions m_options{pcCheckExist};
  int16_t m_maxComPorts = 4;
  uint16_t m_comNumber = 0;
};
