#pragma once
// TAfComPort: the serial port component the application uses. It publishes
// every property and event of TAfCustomComPort.
//
//   TAfComPort cCom(this);
//   cCom.setObjectName("cCom");            // the Name in error texts
//   cCom.SetBaudRate(br9600);
//   cCom.OnDataRecived = [&](QObject*, int) { buffer += cCom.ReadAllText(); };
//   cCom.SetComNumber(1);
//   cCom.OpenPort();                        // EAfComPortCoreError on failure
//
// Thread: GUI thread only (OnNonSyncEvent runs in the event thread).

#include "AfCustomComPort.h"

class TAfComPort : public TAfCustomComPort {
  Q_OBJECT

 public:
  explicit TAfComPort(QObject* parent = nullptr) : TAfCustomComPort(parent) {}

  using TAfCustomSerialPort::AutoOpen;
  using TAfCustomSerialPort::SetAutoOpen;
  using TAfCustomSerialPort::BaudRate;
  using TAfCustomSerialPort::SetBaudRate;
  using TAfCustomComPort::ComNumber;
  using TAfCustomComPort::SetComNumber;
  using TAfCustomSerialPort::Databits;
  using TAfCustomSerialPort::SetDatabits;
  using TAfCustomSerialPort::DTR;
  using TAfCustomSerialPort::SetDTR;
  using TAfCustomSerialPort::EventThreadPriority;
  using TAfCustomSerialPort::SetEventThreadPriority;
  using TAfCustomSerialPort::FlowControl;
  using TAfCustomSerialPort::SetFlowControl;
  using TAfCustomSerialPort::InBufSize;
  using TAfCustomSerialPort::SetInBufSize;
  using TAfCustomSerialPort::Options;
  using TAfCustomSerialPort::SetOptions;
  using TAfCustomSerialPort::OutBufSize;
  using TAfCustomSerialPort::SetOutBufSize;
  using TAfCustomSerialPort::RaiseErrors;
  using TAfCustomSerialPort::SetRaiseErrors;
  using TAfCustomSerialPort::Parity;
  using TAfCustomSerialPort::SetParity;
  using TAfCustomSerialPort::RTS;
  using TAfCustomSerialPort::SetRTS;
  using TAfCustomSerialPort::Stopbits;
  using TAfCustomSerialPort::SetStopbits;
  using TAfCustomSerialPort::UserBaudRate;
  using TAfCustomSerialPort::SetUserBaudRate;
  using TAfCustomSerialPort::WriteThreadPriority;
  using TAfCustomSerialPort::SetWriteThreadPriority;
  using TAfCustomSerialPort::XOnChar;
  using TAfCustomSerialPort::SetXOnChar;
  using TAfCustomSerialPort::XOffChar;
  using TAfCustomSerialPort::SetXOffChar;
  using TAfCustomSerialPort::XOnLim;
  using TAfCustomSerialPort::SetXOnLim;
  using TAfCustomSerialPort::XOffLim;
  using TAfCustomSerialPort::SetXOffLim;

  using TAfCustomSerialPort::OnDataRecived;
  using TAfCustomSerialPort::OnPortOpen;
  using TAfCustomSerialPort::OnPortClose;
  using TAfCustomSerialPort::OnOutBufFree;
  using TAfCustomSerialPort::OnLineError;
  using TAfCustomSerialPort::OnCTSChanged;
  using TAfCustomSerialPort::OnDSRChanged;
  using TAfCustomSerialPort::OnRINGDetected;
  using TAfCustomSerialPort::OnRLSDChanged;
  using TAfCustomSerialPort::OnSyncEvent;
  using TAfCustomSerialPort::OnNonSyncEvent;
};
