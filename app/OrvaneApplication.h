#pragma once
// The application object. An exception that escapes an event handler (a port
// that cannot be opened, memory that ran out) is logged on stderr, shown in an
// error message and the program goes on, as the message loop of the original platform does.
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

  // Logs error's text on stderr and shows it ("Unknown error" for anything not
  // a std::exception, "Out of memory" for std::bad_alloc); while one is shown,
  // further errors go to stderr only. Never throws.
  void ReportException(std::exception_ptr error) noexcept;

 private:
  ErrorReporter m_reportError;
  bool m_reporting = false;
};
