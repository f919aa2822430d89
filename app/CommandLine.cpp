#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "FOvMonitor.h"
#include "serial/AfPortControls.h"
#include "support/MyFunctions.h"
#include "support/Trace.h"
#include "ui_uOrvaneMonitor.h"

namespace {

const char* const kProgramTitle = "Qel Orvane Monitor";
// The port selector's range.
constexpr int kMaxPort = 1025;

// "COM7", "com7", "COM 7" -> 7; 0 for anything else.
int PortNumber(const QString& text) {
  QString rest = text.trimmed();
  if (!rest.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return 0;
  rest = rest.mid(3).trimmed();
  bool ok = false;
  const int number = rest.toInt(&ok, 10);
  const bool digitsOnly = !rest.isEmpty() && std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isDigit(); });
  return ok && digitsOnly && number >= 1 && number <= kMaxPort ? number : 0;
}

std::string ProgramName(const QStringList& arguments) {
  if (arguments.isEmpty()) return "orvane-monitor";
  const QString& path = arguments.first();
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toStdString();
}

TCommandLineOutcome UsageError(const std::string& program, const QString& message) {
  return {2, {}, program + ": " + message.toStdString() + "\nTry '" + program + " --help' for more information.\n"};
}

}  // namespace

TCommandLineOutcome ParseCommandLine(const QStringList& arguments, TCommandLine& options) {
  const std::string program = ProgramName(arguments);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Installs and checks Orvane IoT gateways over a serial line: identity, status, parameters, "
      "Bluetooth bridges, GNSS position and the Orvane cloud."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and stop."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the program's version and stop."));
  const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Select the serial port COMn (1 to 1025)."),
                                QStringLiteral("COMn"));
  const QCommandLineOption open(QStringLiteral("open"), QStringLiteral("Open the selected port once the window is up."));
  const QCommandLineOption trace(QStringLiteral("trace"),
                                 QStringLiteral("Append every line sent to and received from the gateway, and every "
                                                "cloud request, to FILE, each with a time stamp."),
                                 QStringLiteral("FILE"));
  const QCommandLineOption provision(
      QStringLiteral("provision"),
      QStringLiteral("Provision the gateway on --port without a window: read it, write the parameters, register it on "
                     "the cloud, wait until it is registered, fetch its cloud record. One line per step on standard "
                     "output; the exit status names the step that failed (see the README)."));
  const QCommandLineOption report(QStringLiteral("report"),
                                  QStringLiteral("Write the installation report to FILE (PDF) and FILE.json. Without "
                                                 "--provision: read the gateway on --port without a window and report."),
                                  QStringLiteral("FILE"));
  const QCommandLineOption account(QStringLiteral("account"),
                                   QStringLiteral("Register with this stored cloud account (default: the selected one)."),
                                   QStringLiteral("ID"));
  const QCommandLineOption profile(QStringLiteral("profile"),
                                   QStringLiteral("Parameters to write, one NUMBER=VALUE per line (--set wins)."),
                                   QStringLiteral("FILE"));
  const QCommandLineOption set(QStringLiteral("set"),
                               QStringLiteral("Write parameter NUMBER and read it back (repeatable; \\xHH for a byte)."),
                               QStringLiteral("NUMBER=VALUE"));
  const QCommandLineOption timeout(QStringLiteral("timeout"),
                                   QStringLiteral("Time for the whole gateway, seconds (default 60)."),
                                   QStringLiteral("SECONDS"));
  parser.addOptions({help, version, port, open, trace, provision, report, account, profile, set, timeout});

  if (!parser.parse(arguments)) return UsageError(program, parser.errorText());
  if (parser.isSet(help)) {
    // The usage line names the program as it was started.
    QString text = parser.helpText();
    const QString usage = QStringLiteral("Usage: ");
    if (text.startsWith(usage)) text.replace(0, text.indexOf(QLatin1Char(' '), usage.size()), usage + QString::fromStdString(program));
    return {0, text.toStdString(), {}};
  }
  if (parser.isSet(version)) return {0, std::string(kProgramTitle) + " " + FileVersionText(ProgramFileName(), false) + "\n", {}};
  if (!parser.positionalArguments().isEmpty())
    return UsageError(program, QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));

  TCommandLine parsed;
  if (parser.isSet(port)) {
    parsed.port = static_cast<uint16_t>(PortNumber(parser.value(port)));
    if (parsed.port == 0)
      return UsageError(program,
                        QStringLiteral("--port takes COM1 to COM%1, not '%2'.").arg(kMaxPort).arg(parser.value(port)));
  }
  parsed.open = parser.isSet(open);
  if (parser.isSet(trace)) {
    parsed.traceFile = parser.value(trace).toStdString();
    if (parsed.traceFile.empty()) return UsageError(program, QStringLiteral("--trace needs a file name."));
  }
  parsed.provision = parser.isSet(provision);
  if (parser.isSet(report)) {
    parsed.reportFile = parser.value(report).toStdString();
    if (parsed.reportFile.empty()) return UsageError(program, QStringLiteral("--report needs a file name."));
  }
  if (!parsed.provision)
    for (const QCommandLineOption* only : {&profile, &set})
      if (parser.isSet(*only))
        return UsageError(program, QStringLiteral("--%1 is for --provision only.").arg(only->names().first()));
  if (!parsed.Headless())
    for (const QCommandLineOption* only : {&account, &timeout})
      if (parser.isSet(*only))
        return UsageError(program,
                          QStringLiteral("--%1 is for --provision and --report only.").arg(only->names().first()));
  if (parsed.Headless() && parsed.port == 0)
    return UsageError(program, QStringLiteral("--%1 needs --port.").arg(parsed.provision ? "provision" : "report"));
  parsed.accountId = parser.value(account).toStdString();
  parsed.profileFile = parser.value(profile).toStdString();
  for (const QString& text : parser.values(set)) {
    TParameterSetting setting;
    std::string error;
    if (!ParseParameterSetting(text.toStdString(), setting, error))
      return UsageError(program, QStringLiteral("--set: %1").arg(QString::fromStdString(error)));
    MergeParameterSetting(parsed.settings, setting);
  }
  if (parser.isSet(timeout)) {
    bool ok = false;
    parsed.timeoutSeconds = parser.value(timeout).toInt(&ok);
    if (!ok || parsed.timeoutSeconds < 1 || parsed.timeoutSeconds > 86400)
      return UsageError(program, QStringLiteral("--timeout takes 1 to 86400 seconds, not '%1'.").arg(parser.value(timeout)));
  }
  options = parsed;
  return {};
}

std::optional<int> RunCommandLine(int argc, char** argv, TCommandLine& options) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const TCommandLineOutcome outcome = ParseCommandLine(arguments, options);
  std::fputs(outcome.out.c_str(), stdout);
  std::fputs(outcome.err.c_str(), stderr);
  if (outcome.exitStatus) return outcome.exitStatus;
  if (!options.profileFile.empty()) {
    // The profile first; the --set options come after it and win.
    std::string error;
    std::vector<TParameterSetting> settings;
    QFile file(QString::fromStdString(options.profileFile));
    if (!file.open(QIODevice::ReadOnly)) {
      error = file.errorString().toStdString();
    } else {
      const QByteArray bytes = file.readAll();
      ParseParameterProfile(bytes.toStdString(), settings, error);
    }
    if (!error.empty()) {
      std::fprintf(stderr, "%s: profile %s: %s\n", ProgramName(arguments).c_str(), options.profileFile.c_str(),
                   error.c_str());
      return 2;
    }
    for (const TParameterSetting& setting : options.settings) MergeParameterSetting(settings, setting);
    options.settings = std::move(settings);
  }
  if (!options.traceFile.empty()) {
    std::string error;
    if (!Trace::Open(options.traceFile, &error)) {
      std::fprintf(stderr, "%s: cannot write the trace file %s: %s\n", ProgramName(arguments).c_str(),
                   options.traceFile.c_str(), error.c_str());
      return 1;
    }
    Trace::Line(std::string(kProgramTitle) + " " + FileVersionText(ProgramFileName(), false) + " started");
  }
  return std::nullopt;
}

bool ApplyCommandLine(TFOvMonitor& window, const TCommandLine& options) {
  TAfPortComboBox* selector = window.Form().cComPort;
  if (options.port != 0 && !selector->SetComNumber(options.port)) {
    std::fprintf(stderr, "%s: COM %d is not present; pick a port in the window.\n",
                 ProgramName(QCoreApplication::arguments()).c_str(), options.port);
    return false;
  }
  // Queued, so the window is shown and the event loop runs before the port opens;
  // an open failure then reaches the application's error message like a click's.
  if (options.open) QTimer::singleShot(0, &window, [&window] { window.bOpenClick(); });
  return true;
}
