#include "Provisioning.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "CommandLine.h"
#include "FOvMonitor.h"
#include "GatewayParameters.h"
#include "GnssMonitor.h"
#include "ReportFile.h"
#include "cloud/GatewayCloud.h"
#include "db/MySQLite.h"
#include "serial/AfComPort.h"
#include "serial/AfPortControls.h"
#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the cloud record is asked while the gateway's own state lags behind.
constexpr milliseconds kRecordPollInterval(2000);
// A ":get" follows its acknowledgement at once; one that has not come by then never will.
constexpr milliseconds kReadBackGrace(3000);
// How long the report waits for a GNSS fix, and (report alone) listens for bridges.
constexpr milliseconds kGnssFixWait(5000);
constexpr milliseconds kBridgeListen(5000);
// A waiting step looks at the window this often besides when a line comes in.
constexpr milliseconds kPollInterval(20);

bool RegisteredState(const std::string& status) {
  return status == "registered" || status == "approved" || status == "connected" || status == "online";
}

// A value in a step line: escaped as in a profile, and a blank as "\x20" so that
// the line still splits into one NUMBER=VALUE per word.
std::string StepValue(const std::string& value) {
  std::string text;
  for (const char c : EscapedParameterValue(value)) text += c == ' ' ? std::string("\\x20") : std::string(1, c);
  return text;
}

std::string Trimmed(const QString& text) { return FromQString(text.trimmed()); }

// The value as the gateway's line gives it back: the line is trimmed of blanks
// at its end before anyone sees it.
std::string AsReadBack(std::string value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\n')) value.pop_back();
  return value;
}

class THeadlessRun {
 public:
  THeadlessRun(TFOvMonitor& window, const TCommandLine& options, std::FILE* out)
      : m_window(window), m_form(window.Form()), m_options(options), m_out(out) {}

  int Run() {
    m_deadline = Clock::now() + std::chrono::seconds(m_options.timeoutSeconds);
    const bool report = !m_options.reportFile.empty();
    m_total = m_options.provision ? 6 + (report ? 1 : 0) : 4;
    // Registration is a step of its own here, never a side effect of ":info".
    m_form.cCloud_RegisterGW->setChecked(false);
    m_window.SetLineObserver([this](std::string_view line) { Observe(line); });
    const int status = Steps();
    m_window.SetLineObserver({});
    try {
      m_window.bCloseClick();
    } catch (...) {
      // The outcome is told already; a port that will not close changes nothing in it.
    }
    std::fflush(m_out);
    return status;
  }

 private:
  int Steps() {
    if (const int status = OpenPort()) return status;
    if (const int status = AwaitGateway()) return status;
    const bool report = !m_options.reportFile.empty();
    // Bridges are heard while the other steps run; the report lists them.
    if (report) m_form.cShow_BRG->setChecked(true);
    if (m_options.provision) {
      if (const int status = WriteParameters()) return status;
      if (const int status = Register()) return status;
      if (const int status = AwaitState()) return status;
      if (const int status = FetchRecord(true)) return status;
    } else {
      Wait([] { return false; }, std::min(m_deadline, Clock::now() + kBridgeListen));
      FetchRecord(false);
    }
    if (report)
      if (const int status = WriteReport()) return status;
    std::fprintf(m_out, "result ok\n");
    return peDone;
  }

  // --- output ---
  void Step(const std::string& name, const std::string& detail, bool ok) {
    std::fprintf(m_out, "step %d/%d %s: %s %s\n", ++m_step, m_total, name.c_str(), detail.c_str(),
                 ok ? "ok" : "failed");
    std::fflush(m_out);
  }
  int Fail(int status, const std::string& name, const std::string& detail, const std::string& reason) {
    Step(name, detail, false);
    std::fprintf(m_out, "result failed at %s: %s\n", name.c_str(), reason.c_str());
    return status;
  }
  std::string Within() const { return "within " + std::to_string(m_options.timeoutSeconds) + " s"; }
  // Why the gateway said nothing: `silence`, unless the port went away meanwhile.
  std::string Unanswered(const std::string& silence) const {
    return m_window.Com().IsPortOpen() ? silence : "the port closed (adapter unplugged?)";
  }

  // --- waiting ---
  // Runs the event loop until done() or the time; true when done. Every wait
  // is cut short by the run's deadline.
  bool Wait(const std::function<bool()>& done, Clock::time_point until) {
    until = std::min(until, m_deadline);
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollInterval);
    // An unplugged adapter closes the port: nothing more will come.
    const auto check = [&] {
      if (done() || Clock::now() >= until || !m_window.Com().IsPortOpen()) loop.quit();
    };
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    // A line is seen before the window handles it; the check runs after.
    m_lineArrived = [&] { QTimer::singleShot(0, &loop, check); };
    poll.start();
    loop.exec();
    m_lineArrived = nullptr;
    return done();
  }
  bool Wait(const std::function<bool()>& done) { return Wait(done, m_deadline); }

  void Observe(std::string_view line) {
    const std::size_t space = line.find(' ');
    const std::string_view keyword = line.substr(0, space);
    const std::string argument(space == std::string_view::npos ? std::string_view() : line.substr(space + 1));
    if (keyword == "OK" || keyword == "ERROR") {
      m_lastAck = std::string(keyword);
      ++m_acks;
    } else if (keyword == ":info") {
      m_infoSeen = true;
    } else if (keyword == ":get") {
      const std::size_t gap = argument.find(' ');
      const std::string number = argument.substr(0, gap);
      m_reads[TextToInt(number, -1)] = gap == std::string::npos ? std::string() : argument.substr(gap + 1);
    } else if (keyword == ":state") {
      m_stateOnline = Trimmed(ToQString(TokenAt(argument, 1, ',')));
    } else if (keyword == ":gnss") {
      m_gnssFix = m_gnssFix || ParseGnssReport(argument).IsValidFix();
    }
    if (m_lineArrived) m_lineArrived();
  }

  // The gateway's answer to the command just queued: true once the queue is
  // empty again with one more acknowledgement than `acksBefore`.
  bool Answered(int acksBefore) const { return m_window.PendingCommands().empty() && m_acks > acksBefore; }

  // The outcome of one cloud operation started by `start`, as the window shows it.
  std::optional<std::pair<bool, std::string>> CloudCall(const QString& operation, const std::function<void()>& start) {
    std::optional<std::pair<bool, std::string>> outcome;
    // Connected before the call: the operation may end before start() returns.
    const QMetaObject::Connection connection = QObject::connect(
        &m_window, &TFOvMonitor::CloudOperationDone, &m_window,
        [&](const QString& done, bool ok, const QString& text) {
          if (done == operation && !outcome) outcome.emplace(ok, Trimmed(text));
        });
    start();
    Wait([&] { return outcome.has_value(); });
    QObject::disconnect(connection);
    return outcome;
  }

  // --- steps ---
  int OpenPort() {
    const std::string name = "COM" + std::to_string(m_options.port);
    if (!m_form.cComPort->SetComNumber(m_options.port))
      return Fail(pePort, "port", name, name + " is not present");
    std::string reason;
    try {
      m_window.bOpenClick();
    } catch (const std::exception& error) {
      reason = error.what();
    }
    if (!m_window.Com().IsPortOpen())
      return Fail(pePort, "port", name, TextOrDefault(reason, name + " could not be opened"));
    Step("port", name, true);
    return peDone;
  }

  int AwaitGateway() {
    // Opening sent the Refresh request; its ":info" names the gateway.
    if (!Wait([&] { return m_infoSeen; }))
      return Fail(peNoGateway, "gateway", "-", Unanswered("no answer from the gateway " + Within()));
    m_gatewayId = m_form.vGWID->Caption();
    if (!IsGatewayID(m_gatewayId))
      return Fail(peNoGateway, "gateway", m_gatewayId, "'" + m_gatewayId + "' is not a gateway ID");
    // The rest of the Refresh request goes first, so each answer below is ours.
    if (!Wait([&] { return m_window.PendingCommands().empty(); }))
      return Fail(peNoGateway, "gateway", m_gatewayId, Unanswered("the gateway stopped answering " + Within()));
    Step("gateway", m_gatewayId, true);
    return peDone;
  }

  int WriteParameters() {
    std::string written;
    for (const TParameterSetting& setting : m_options.settings) {
      const std::string shown = std::to_string(setting.number) + "=" + StepValue(setting.value);
      written += (written.empty() ? "" : " ") + shown;
      if (!Wait([&] { return m_window.PendingCommands().empty(); }))
        return Fail(peNoGateway, "parameters", written, Unanswered("the gateway stopped answering " + Within()));
      int acks = m_acks;
      m_window.SetParameter(setting.number, setting.value);
      if (!Wait([&] { return Answered(acks); }))
        return Fail(peNoGateway, "parameters", written,
                    Unanswered("no answer to parameter " + shown + " " + Within()));
      if (m_lastAck != "OK")
        return Fail(peParameter, "parameters", written,
                    "the gateway refused parameter " + std::to_string(setting.number));
      m_reads.erase(setting.number);
      acks = m_acks;
      m_window.GetParameter(setting.number);
      const auto readBack = [&] { return m_reads.count(setting.number) > 0; };
      // The ":get" follows its acknowledgement; a refused read has none.
      Wait([&] { return readBack() || Answered(acks); });
      if (!readBack() && Answered(acks) && m_lastAck == "OK") Wait(readBack, Clock::now() + kReadBackGrace);
      if (!readBack())
        return Fail(peParameter, "parameters", written,
                    "parameter " + std::to_string(setting.number) + " did not read back");
      const std::string& value = m_reads[setting.number];
      // The write-only SIM PIN reads back masked: only whether one is set can be checked.
      const bool took = setting.number == kSimPin ? value.empty() == setting.value.empty()
                                                  : value == AsReadBack(setting.value);
      if (!took)
        return Fail(peParameter, "parameters", written,
                    "parameter " + std::to_string(setting.number) + " reads back '" + EscapedParameterValue(value) +
                        "'");
    }
    Step("parameters", TextOrDefault(written, "none"), true);
    return peDone;
  }

  int Register() {
    const std::string detail = m_gatewayId;
    if (!m_options.accountId.empty() && !m_window.LoadAccount(m_options.accountId))
      return Fail(peCloud, "registration", detail,
                  "no stored cloud account " + m_options.accountId + " (or its server is unknown)");
    if (!m_window.CloudClient()) return Fail(peCloud, "registration", detail, "no cloud account selected");
    const std::string account = m_window.CurrentAccount().accountId;
    const auto outcome = CloudCall(QStringLiteral("Register"), [&] { m_window.RegisterGW(m_gatewayId); });
    if (!outcome) return Fail(peCloud, "registration", detail, "no answer from the cloud " + Within());
    if (!outcome->first) return Fail(peCloud, "registration", detail, TextOrDefault(outcome->second, "refused"));
    Step("registration", detail + " with " + account, true);
    return peDone;
  }

  // Whether the cloud record stored by the last fetch says registered.
  std::string RecordState() {
    TSQLiteQuery query(m_window.DB());
    query.SQL = {"SELECT `status`, `online` FROM `gw` WHERE `gatewayId` = ?"};
    query.Prepare();
    query.BindParam(1, Variant(m_gatewayId));
    if (!query.Open()) return {};
    if (query.FieldValue("online").ToString() == "1") return "online";
    return query.FieldValue("status").ToString();
  }

  int AwaitState() {
    const auto gatewaySays = [&] {
      return RegisteredState(m_form.vGWStatus->Caption()) || m_stateOnline == "Online";
    };
    auto nextFetch = Clock::now();
    std::string record;
    for (;;) {
      if (gatewaySays()) {
        Step("state", m_form.vGWStatus->Caption() + " (gateway)", true);
        return peDone;
      }
      if (Clock::now() >= m_deadline) break;
      if (Clock::now() >= nextFetch) {
        CloudCall(QStringLiteral("Record"), [&] { m_window.FetchGatewayRecord(m_gatewayId); });
        record = RecordState();
        if (RegisteredState(record)) {
          Step("state", record + " (cloud record)", true);
          return peDone;
        }
        nextFetch = Clock::now() + kRecordPollInterval;
      }
      Wait(gatewaySays, nextFetch);
    }
    const std::string gateway = TextOrDefault(m_form.vGWStatus->Caption(), "not reported");
    return Fail(peState, "state", gateway,
                "not registered " + Within() + " (gateway: " + gateway + ", cloud: " +
                    TextOrDefault(record, "no record") + ")");
  }

  // Required: a failure is the step's. Otherwise (report alone) a record that
  // cannot be had is left out of the report.
  int FetchRecord(bool required) {
    if (!m_window.CloudClient() && !required) {
      Step("record", "no cloud account, skipped", true);
      return peDone;
    }
    const auto outcome = CloudCall(QStringLiteral("Record"), [&] { m_window.FetchGatewayRecord(m_gatewayId); });
    const std::string reason = !outcome ? "no answer from the cloud " + Within() : outcome->second;
    if (outcome && outcome->first) {
      Step("record", "status " + TextOrDefault(RecordState(), "?"), true);
      return peDone;
    }
    if (required) return Fail(peCloud, "record", m_gatewayId, reason);
    Step("record", reason + ", skipped", true);
    return peDone;
  }

  int WriteReport() {
    // GNSS and bridge reports exclude each other: the bridges had their turn.
    m_form.cShow_GNSS->setChecked(true);
    Wait([&] { return m_gnssFix && m_form.mMap->PointCount() > 0; }, Clock::now() + kGnssFixWait);
    std::string error;
    if (!SaveInstallationReport(GatherReportFacts(m_window), m_options.reportFile, error))
      return Fail(peReport, "report", m_options.reportFile, error);
    Step("report", m_options.reportFile, true);
    return peDone;
  }

  TFOvMonitor& m_window;
  Ui::uOrvaneMonitor& m_form;
  const TCommandLine& m_options;
  std::FILE* m_out;
  Clock::time_point m_deadline;
  int m_step = 0;
  int m_total = 0;
  std::string m_gatewayId;

  // What the gateway's lines said, recorded as they come.
  std::function<void()> m_lineArrived;
  bool m_infoSeen = false;
  std::string m_lastAck;
  int m_acks = 0;
  std::map<int, std::string> m_reads;
  std::string m_stateOnline;
  bool m_gnssFix = false;
};

}  // namespace

int RunHeadless(TFOvMonitor& window, const TCommandLine& options, std::FILE* out) {
  // A settings problem is on standard error already; a message box nobody sees
  // would hold the line until its timeout.
  window.SetSettingsProblemHandler([](const std::string&) {});
  return THeadlessRun(window, options, out).Run();
}
