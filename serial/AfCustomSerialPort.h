#pragma once
// TAfCustomSerialPort: the serial component without a port name. It keeps the
// line settings as properties, turns them into the device-control block, owns
// the core, and delivers what the worker threads observe as events in the
// main thread through an AfSafeSync slot.
//
// Properties are getter/setter pairs named after the property (BaudRate(),
// SetBaudRate()); every setter does nothing when the value is unchanged.
// Events are std::function members named after the event; an empty one is
// "not assigned". They are protected here and made public by TAfComPort.
//
// Errors: ReportError raises EAfComPortError ("<message> - <Name> ") while
// RaiseErrors is true, otherwise it returns and the caller goes on. Open
// failures raise the core's EAfComPortCoreError whatever RaiseErrors says.
//
// A hang-up of the device (adapter unplugged, far side of a pty closed) closes
// the port from the main thread and fires OnPortClose.
//
// Thread: GUI thread only, except OnNonSyncEvent, which runs in the event
// thread (assign it while the port is closed).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "AfComErrors.h"
#include "AfComTypes.h"
#include "AfDataDispConnComponent.h"

class TAfComPortCore;

using TNotifyEvent = std::function<void(QObject* sender)>;
using TAfCPTDataReceivedEvent = std::function<void(QObject* sender, int count)>;
using TAfCPTErrorEvent = std::function<void(QObject* sender, uint32_t errors)>;
using TAfCPTCoreEvent = std::function<void(QObject* sender, TAfCoreEvent eventKind, uint32_t data)>;

class TAfCustomSerialPort : public TAfDataDispConnComponent {
  Q_OBJECT

 public:
  explicit TAfCustomSerialPort(QObject* parent = nullptr);
  ~TAfCustomSerialPort() override;

  // Opens with the current settings; nothing when already open. Fires
  // OnPortOpen on success.
  void OpenPort() override;
  // Closes when open; always fires OnPortClose.
  void ClosePort() override;
  bool IsPortOpen() const;

  // Nothing for an empty string; else WriteBlock of its bytes.
  void WriteText(const std::string& text);
  // Queues the block whole, or reports "Write data error [requested: %d, free: %d]".
  void WriteBlock(const void* data, int count) override;
  // Every byte waiting in the input queue; empty while closing or closed.
  std::string ReadAllText();
  // Reads count bytes; fewer reports "Read data error".
  void ReadBlock(void* buffer, int count);
  int InQueueCount();
  int OutBufferFree();

  // Settings taken back from a block (see the property rules); raises through
  // ReportError for a block whose length is not 28.
  void ApplyDeviceBlock(const TAfDcb& block);
  const TAfDcb& DeviceBlock() const { return m_block; }
  // After the properties were set up: opens when AutoOpen, else rebuilds the block.
  void Loaded();

  virtual void ReportError(const std::string& message);
  virtual bool ShowSettingsDialog() = 0;

 protected:
  virtual void OpenDevice() = 0;
  TAfComPortCore& Core() { return *m_core; }

  // Properties.
  bool AutoOpen() const { return m_autoOpen; }
  void SetAutoOpen(bool value) { m_autoOpen = value; }
  TAfBaudrate BaudRate() const { return m_baudRate; }
  void SetBaudRate(TAfBaudrate value);
  TAfDatabits Databits() const { return m_databits; }
  void SetDatabits(TAfDatabits value);
  bool DTR() const { return m_dtr; }
  void SetDTR(bool value);
  TThreadPriority EventThreadPriority() const { return m_eventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority value) { m_eventThreadPriority = value; }
  TAfFlowControl FlowControl() const { return m_flowControl; }
  void SetFlowControl(TAfFlowControl value);
  int InBufSize() const { return m_inBufSize; }
  void SetInBufSize(int value);
  TAfComOptions Options() const { return m_options; }
  void SetOptions(TAfComOptions value);
  int OutBufSize() const { return m_outBufSize; }
  void SetOutBufSize(int value);
  bool RaiseErrors() const { return m_raiseErrors; }
  void SetRaiseErrors(bool value) { m_raiseErrors = value; }
  TAfParity Parity() const { return m_parity; }
  void SetParity(TAfParity value);
  bool RTS() const { return m_rts; }
  void SetRTS(bool value);
  TAfStopbits Stopbits() const { return m_stopbits; }
  void SetStopbits(TAfStopbits value);
  int UserBaudRate() const { return m_userBaudRate; }
  void SetUserBaudRate(int value);
  TThreadPriority WriteThreadPriority() const { return m_writeThreadPriority; }
  void SetWriteThreadPriority(TThreadPriority value) { m_writeThreadPriority = value; }
  char XOnChar() const { return m_xonChar; }
  void SetXOnChar(char value);
  char XOffChar() const { return m_xoffChar; }
  void SetXOffChar(char value);
  uint16_t XOnLim() const { return m_xonLim; }
  void SetXOnLim(uint16_t value);
  uint16_t XOffLim() const { return m_xoffLim; }
  void SetXOffLim(uint16_t value);

  // Events.
  TAfCPTDataReceivedEvent OnDataRecived;
  TNotifyEvent OnPortOpen;
  TNotifyEvent OnPortClose;
  TNotifyEvent OnOutBufFree;
  TAfCPTErrorEvent OnLineError;
  TNotifyEvent OnCTSChanged;
  TNotifyEvent OnDSRChanged;
  TNotifyEvent OnRINGDetected;
  TNotifyEvent OnRLSDChanged;
  TAfCPTCoreEvent OnSyncEvent;
  TAfCPTCoreEvent OnNonSyncEvent;

 private:
  void BuildDeviceBlock();
  void UpdateXOnXOffLimits();
  // Event thread: hands a core event to the main thread (or OnNonSyncEvent).
  void CoreEvent(TAfCoreEvent kind, uint32_t data);
  // Main thread: fires the events for the pending core event.
  void SyncDispatch();
  void CloseAfterHangUp();

  bool m_autoOpen = false;
  TAfBaudrate m_baudRate = br115200;
  TAfDatabits m_databits = db8;
  bool m_dtr = true;
  TThreadPriority m_eventThreadPriority = tpNormal;
  TAfFlowControl m_flowControl = fwNone;
  int m_inBufSize = 4096;
  TAfComOptions m_options;
  int m_outBufSize = 2048;
  bool m_raiseErrors = true;
  TAfParity m_parity = paNone;
  bool m_rts = true;
  TAfStopbits m_stopbits = sbOne;
  int m_userBaudRate = 0;
  TThreadPriority m_writeThreadPriority = tpHighest;
  char m_xonChar = 17;
  char m_xoffChar = 19;
  uint16_t m_xonLim = 0;
  uint16_t m_xoffLim = 0;

  TAfDcb m_block;
  std::unique_ptr<TAfComPortCore> m_core;
  uint32_t m_slotId = 0;
  std::atomic<bool> m_closing{false};
  std::atomic<bool> m_destroying{false};
  // Counts opens. An event handed over by an event thread belongs to the session in
  // which it was made; a call that runs after the port was closed (and perhaps opened
  // again) finds another session, or the event already taken, and does nothing.
  std::atomic<uint64_t> m_session{0};
  std::mutex m_pendingMutex;
  TAfCoreEvent m_pendingKind = ekOutputEmpty;
  uint32_t m_pendingData = 0;
  uint64_t m_pendingSession = 0;
  bool m_pendingTaken = true;
};
