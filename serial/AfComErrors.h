#pragma once
// Exceptions of the serial subsystem.
//   EAfComPortError      raised by the component's ReportError while RaiseErrors is on.
//   EAfComPortCoreError  open failures of the core; always raised.
//   EAfAbort             the silent abort: ends the handling of one event in a
//                        worker thread and is dropped there, never shown.

#include <stdexcept>
#include <string>

class EAfComPortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EAfComPortCoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EAfAbort {};
