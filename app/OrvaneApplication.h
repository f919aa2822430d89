#pragma once
// The application object. An exception that escapes an event handler (a port
// that cannot be opened, a failed settings write) is shown in an error message
// and the program goes on, as the message loop of the original platform does.
// The same goes for an exception from a serial port event, which reaches the
// main thread through the serial call-in facility rather than the event loop.
//
// Thread: GUI thread only.

#include <QApplication>
#include <exception>
#include <functional>
#include <string>

class TOrvaneApplication : public QApplication {
  Q_OBJECT

 public:
  TOrvaneApplication(int& argc, char** argv);
  // Gives the serial call-in facility its default handler back.
  ~TOrvaneApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the text of an exception that reached the message loop; by default a
  // critical message box. Replaceable for tests.
  using ErrorReporter = std::function<void(const std::string& message)>;
  void SetErrorReporter(ErrorReporter reporter) { m_reportError = std::move(reporter); }

  // Shows error's text ("Unknown error" for anything not a std::exception).
  void ReportException(std::exception_ptr error);

 private:
  ErrorReporter m_reportError;
};
