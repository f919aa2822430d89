#include "AfCustomSerialPort.h"

#include <cstdio>

#include "AfComPortCore.h"
#include "AfSafeSync.h"

namespace {

// How long the event thread waits for the main thread to take one event.
constexpr int kMainThreadLimitMs = 2000;

constexpr uint32_t kFlowBits[] = {
    0,                                                   // fwNone
    AfDcbFlag::OutX | AfDcbFlag::InX,                    // fwXOnXOff
    AfDcbFlag::OutxCtsFlow | AfDcbFlag::RtsHandshake,    // fwRtsCts
    AfDcbFlag::OutxDsrFlow | AfDcbFlag::DtrHandshake,    // fwDtrDsr
};
constexpr uint32_t kOptionBits[] = {AfDcbFlag::Parity, AfDcbFlag::DsrSensitivity, AfDcbFlag::TXContinueOnXoff,
                                    AfDcbFlag::ErrorChar, AfDcbFlag::Null};

// Clears a flag for the time of a scope, also when the scope is left by an exception.
class TFlagScope {
 public:
  explicit TFlagScope(std::atomic<bool>& flag) : m_flag(flag) { m_flag = true; }
  ~TFlagScope() { m_flag = false; }

 private:
  std::atomic<bool>& m_flag;
};

}  // namespace

TAfCustomSerialPort::TAfCustomSerialPort(QObject* parent) : TAfDataDispConnComponent(parent) {
  m_slotId = AfSafeSync::RegisterSyncSlot([this](int) { SyncDispatch(); });
  m_core = std::make_unique<TAfComPortCore>();
  m_core->SetReceiver([this](TAfComPortCore&, TAfCoreEvent kind, uint32_t data) { CoreEvent(kind, data); });
  BuildDeviceBlock();
}

TAfCustomSerialPort::~TAfCustomSerialPort() {
  m_destroying = true;
  // Unregistering first releases an event thread waiting for the main thread,
  // so the core can join it; the core then closes without OnPortClose.
  AfSafeSync::UnregisterSyncSlot(m_slotId);
  m_core.reset();
}

void TAfCustomSerialPort::OpenPort() {
  if (m_core->IsOpen()) return;
  AfSafeSync::EnableSyncSlot(m_slotId, true);
  m_core->SetDeviceBlock(m_block);
  m_core->SetQueueSizes(static_cast<uint32_t>(m_inBufSize < 0 ? 0 : m_inBufSize),
                        static_cast<uint32_t>(m_outBufSize < 0 ? 0 : m_outBufSize));
  m_core->SetPriorities(m_writeThreadPriority, m_eventThreadPriority);
  m_closing = false;
  ++m_session;
  OpenDevice();
  if (OnPortOpen) OnPortOpen(this);
}

void TAfCustomSerialPort::ClosePort() {
  TFlagScope closing(m_closing);
  // Disabled before the core closes: an event thread waiting for the main
  // thread gets false at once and can be joined.
  AfSafeSync::EnableSyncSlot(m_slotId, false);
  m_core->CloseIfOpen();
  if (OnPortClose) OnPortClose(this);
}

bool TAfCustomSerialPort::IsPortOpen() const { return m_core && m_core->IsOpen(); }

void TAfCustomSerialPort::WriteText(const std::string& text) {
  if (text.empty()) return;
  WriteBlock(text.data(), static_cast<int>(text.size()));
}

void TAfCustomSerialPort::WriteBlock(const void* data, int count) {
  if (m_closing) return;
  if (count > 0 && m_core->QueueWrite(data, static_cast<size_t>(count))) return;
  char text[96];
  std::snprintf(text, sizeof text, "Write data error [requested: %d, free: %d]", count, OutBufferFree());
  ReportError(text);
}

std::string TAfCustomSerialPort::ReadAllText() {
  if (m_closing) return {};
  const int waiting = InQueueCount();
  if (waiting <= 0) return {};
  std::string text(static_cast<size_t>(waiting), '\0');
  const long got = m_core->ReadInto(text.data(), text.size());
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void TAfCustomSerialPort::ReadBlock(void* buffer, int count) {
  if (m_closing) return;
  const long got = count > 0 ? m_core->ReadInto(buffer, static_cast<size_t>(count)) : 0;
  if (got < count) ReportError("Read data error");
}

int TAfCustomSerialPort::InQueueCount() { return static_cast<int>(m_core->PollStatus().inQueue); }

int TAfCustomSerialPort::OutBufferFree() { return m_core->OutputFree(); }

void TAfCustomSerialPort::ReportError(const std::string& message) {
  if (!m_raiseErrors) return;
  throw EAfComPortError(message + " - " + objectName().toStdString() + " ");
}

void TAfCustomSerialPort::Loaded() {
  if (m_autoOpen)
    OpenPort();
  else
    BuildDeviceBlock();
}

void TAfCustomSerialPort::BuildDeviceBlock() {
  TAfDcb b;
  b.DCBlength = kAfDcbLength;
  b.BaudRate = m_baudRate == brUser ? static_cast<uint32_t>(m_userBaudRate) : kAfBaudRates[m_baudRate];
  b.ByteSize = static_cast<uint8_t>(4 + m_databits);
  b.Parity = static_cast<uint8_t>(m_parity);
  b.StopBits = static_cast<uint8_t>(m_stopbits);
  b.XonChar = m_xonChar;
  b.XoffChar = m_xoffChar;
  b.XonLim = m_xonLim;
  b.XoffLim = m_xoffLim;
  b.Flags = kFlowBits[m_flowControl] | AfDcbFlag::Binary;
  for (int option = coParityCheck; option <= coStripNull; ++option)
    if (m_options.Has(static_cast<TAfComOption>(option))) b.Flags |= kOptionBits[option];
  if (m_dtr && m_flowControl != fwDtrDsr) b.Flags |= AfDcbFlag::DtrEnable;
  if (m_rts && m_flowControl != fwRtsCts) b.Flags |= AfDcbFlag::RtsEnable;
  m_block = b;
  if (!m_core || !m_core->IsOpen()) return;
  try {
    m_core->SetDeviceBlock(m_block);
  } catch (...) {
    m_block = m_core->DeviceBlock();  // what the device really has
    throw;
  }
}

void TAfCustomSerialPort::ApplyDeviceBlock(const TAfDcb& block) {
  if (block.DCBlength != kAfDcbLength) ReportError("Error setting parameters from DCB");
  m_block = block;
  int rate = brUser;
  for (int i = br110; i <= brUser; ++i)
    if (kAfBaudRates[i] == block.BaudRate) {
      rate = i;
      break;
    }
  m_baudRate = static_cast<TAfBaudrate>(rate);
  m_userBaudRate = rate == brUser && block.BaudRate != 0 ? static_cast<int>(block.BaudRate) : 0;
  m_databits = block.ByteSize >= 4 && block.ByteSize <= 8 ? static_cast<TAfDatabits>(block.ByteSize - 4) : db8;
  m_parity = block.Parity <= 4 ? static_cast<TAfParity>(block.Parity) : paNone;
  m_stopbits = block.StopBits <= 2 ? static_cast<TAfStopbits>(block.StopBits) : sbOne;
  m_flowControl = fwNone;
  for (TAfFlowControl flow : {fwDtrDsr, fwRtsCts, fwXOnXOff})
    if ((block.Flags & kFlowBits[flow]) == kFlowBits[flow]) {
      m_flowControl = flow;
      break;
    }
  m_options = {};
  for (int option = coParityCheck; option <= coStripNull; ++option)
    if (block.Flags & kOptionBits[option]) m_options.Include(static_cast<TAfComOption>(option));
  m_xonChar = block.XonChar;
  m_xoffChar = block.XoffChar;
  m_xonLim = block.XonLim;
  m_xoffLim = block.XoffLim;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::UpdateXOnXOffLimits() {
  if (m_flowControl != fwNone) {
    m_xonLim = static_cast<uint16_t>(m_inBufSize / 4);
    m_xoffLim = static_cast<uint16_t>(m_inBufSize - m_inBufSize / 4);
  } else {
    m_xonLim = 0;
    m_xoffLim = 0;
  }
}

void TAfCustomSerialPort::SetBaudRate(TAfBaudrate value) {
  if (value == m_baudRate) return;
  m_baudRate = value;
  if (value != brUser) m_userBaudRate = 0;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetUserBaudRate(int value) {
  if (value == m_userBaudRate) return;
  m_userBaudRate = value;
  m_baudRate = brUser;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetDatabits(TAfDatabits value) {
  if (value == m_databits) return;
  m_databits = value;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetParity(TAfParity value) {
  if (value == m_parity) return;
  m_parity = value;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetStopbits(TAfStopbits value) {
  if (value == m_stopbits) return;
  m_stopbits = value;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetOptions(TAfComOptions value) {
  if (value == m_options) return;
  m_options = value;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetFlowControl(TAfFlowControl value) {
  if (value == m_flowControl) return;
  m_flowControl = value;
  UpdateXOnXOffLimits();
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetInBufSize(int value) {
  if (value == m_inBufSize) return;
  if (IsPortOpen()) ReportError("Port is not closed");
  m_inBufSize = value;
  UpdateXOnXOffLimits();
}

void TAfCustomSerialPort::SetOutBufSize(int value) {
  if (value == m_outBufSize) return;
  if (IsPortOpen()) ReportError("Port is not closed");
  m_outBufSize = value;
}

void TAfCustomSerialPort::SetDTR(bool value) {
  if (value == m_dtr) return;
  m_dtr = value;
  if (IsPortOpen()) m_core->EscapeFunction(value ? AfEscape::SetDtr : AfEscape::ClrDtr);
}

void TAfCustomSerialPort::SetRTS(bool value) {
  if (value == m_rts) return;
  m_rts = value;
  if (IsPortOpen()) m_core->EscapeFunction(value ? AfEscape::SetRts : AfEscape::ClrRts);
}

void TAfCustomSerialPort::SetXOnChar(char value) {
  if (value == m_xonChar) return;
  m_xonChar = value;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetXOffChar(char value) {
  if (value == m_xoffChar) return;
  m_xoffChar = value;
  BuildDeviceBlock();
}

void TAfCustomSerialPort::SetXOnLim(uint16_t value) {
  if (value == m_xonLim) return;
  m_xonLim = value;
  m_xoffLim = static_cast<uint16_t>(m_inBufSize - value);
}

void TAfCustomSerialPort::SetXOffLim(uint16_t value) {
  if (value == m_xoffLim) return;
  m_xoffLim = value;
  m_xonLim = static_cast<uint16_t>(m_inBufSize - value);
}

void TAfCustomSerialPort::CoreEvent(TAfCoreEvent kind, uint32_t data) {
  if (m_closing || m_destroying) return;
  // A hang-up always goes to the main thread: only there can the port be closed.
  if (kind != ekException && kind != ekHangUp && OnNonSyncEvent) {
    OnNonSyncEvent(this, kind, data);
    return;
  }
  {
    // No open can come between: the event thread of a session is joined before the next open.
    std::lock_guard lock(m_pendingMutex);
    m_pendingKind = kind;
    m_pendingData = data;
    m_pendingSession = m_session;
    m_pendingTaken = false;
  }
  if (!AfSafeSync::RunInMainThread(m_slotId, kMainThreadLimitMs)) throw EAfAbort();
}

void TAfCustomSerialPort::CloseAfterHangUp() {
  if (m_core->IsOpen() && m_core->IsHungUp()) ClosePort();
}

void TAfCustomSerialPort::SyncDispatch() {
  if (m_closing) return;
  TAfCoreEvent kind;
  uint32_t data;
  {
    std::lock_guard lock(m_pendingMutex);
    if (m_pendingTaken || m_pendingSession != m_session) return;
    m_pendingTaken = true;
    kind = m_pendingKind;
    data = m_pendingData;
  }
  // Also when the pending event was overwritten or a handler throws: a device
  // that went away must not leave the port looking open.
  struct THangUpCheck {
    TAfCustomSerialPort* port;
    ~THangUpCheck() {
      try {
        port->CloseAfterHangUp();
      } catch (...) {
      }
    }
  } hangUpCheck{this};

  if (OnSyncEvent) OnSyncEvent(this, kind, data);
  switch (kind) {
    case ekOutputEmpty:
      if (OnOutBufFree) OnOutBufFree(this);
      break;
    case ekCommEvents: {
      if ((data & AfEvent::RxChar) && OnDataRecived) OnDataRecived(this, InQueueCount());
      const uint32_t errors = m_core->TakeErrors();
      if ((data & AfEvent::Err) && OnLineError) OnLineError(this, errors);
      if ((data & AfEvent::Cts) && OnCTSChanged) OnCTSChanged(this);
      if ((data & AfEvent::Dsr) && OnDSRChanged) OnDSRChanged(this);
      if ((data & AfEvent::Ring) && OnRINGDetected) OnRINGDetected(this);
      if ((data & AfEvent::Rlsd) && OnRLSDChanged) OnRLSDChanged(this);
      break;
    }
    case ekDataPending:
      if (OnDataRecived) OnDataRecived(this, static_cast<int>(data));
      break;
    case ekException:
      if (auto error = m_core->TakeThreadException()) std::rethrow_exception(error);
      break;
    case ekHangUp:
      break;
  }
}
