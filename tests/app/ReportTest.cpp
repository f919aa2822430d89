// "Save report..." on the window: the PDF and its JSON, read back by programs
// that share no code with ours (pdftotext, pdfimages, jq).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "CloudFixture.h"
#include "CloudSimProcess.h"
#include "GnssMonitor.h"
#include "ParameterProfile.h"
#include "ReportFacts.h"
#include "TileServer.h"
#include "WindowFixture.h"
#include "cloud/MyCrypt.h"
#include "map/MyMapBox.h"
#include "widgets/LedPanel.h"

namespace {

using Settings = std::vector<TParameterSetting>;
const std::string kOwner = "qel-demo";
const std::string kKey = "OrvaneDemoKey2026";

// Standard output of a program, "" when it cannot run or fails.
std::string Output(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    return {};
  return process.readAllStandardOutput().toStdString();
}

std::string FileText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("(absent)");
}

struct ReportTest : CloudFixture {
  QTemporaryDir folder;
  const QByteArray userCache = qgetenv("XDG_CACHE_HOME");
  tilesim::TileServer tiles{tilesim::ServerOptions{}};
  CloudSimProcess sim{{"--account", kOwner + ":" + Base64Encode(kKey, true)}};

  ReportTest() {
    qputenv("XDG_CACHE_HOME", folder.filePath("cache").toLocal8Bit());
    EXPECT_TRUE(tiles.Start());
    TRegIniExtended().WriteString(kEndpointsSection, kMapTilesValue, tiles.BaseUrl());
    sim.TrustCertificate();
    TRegIniExtended().WriteString("Endpoints", "aws-test-cloud", sim.Host());
  }
  ~ReportTest() override {
    window.reset();
    TRegIniExtended().DeleteKey(kEndpointsSection, kMapTilesValue);
    TRegIniExtended().DeleteKey("Endpoints", "aws-test-cloud");
    qputenv("XDG_CACHE_HOME", userCache);
  }
  // Presses "Save report..." and answers its file dialog with `name` in the folder.
  QString SaveReport(const QString& name) {
    const QString path = folder.filePath(name);
    window->SetSaveFileQuery([&](const std::string&, const std::string&) { return path.toStdString(); });
    window->bSaveReportClick();
    return path;
  }
  std::string Jq(const QString& pdf, const char* filter) {
    return Output(QStringLiteral("jq"), {QStringLiteral("-r"), QString::fromLatin1(filter), pdf + ".json"});
  }
};

TEST_F(ReportTest, ReportOfALiveGatewayReadsBackWithPdfToolsAndJq) {
  SimulatedGateway gateway({"--gateway-id", "QEL100000000000042", "--gnss-fix-ms", "0", "--seed", "3"});
  ASSERT_TRUE(gateway.Started());
  StoreAccount({kOwner, "Demo account", kKey, "aws-test-cloud", {}});
  TRegIniExtended().WriteString({}, kAccountIdValue, kOwner);
  MakeWindow();
  window->show();
  // The map is on screen, as when the technician looked at the fix: its tiles load.
  ui().PageControl1->setCurrentWidget(ui().tGNSS);
  OpenCom1(*window);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ui().vGWID->Caption() == "QEL100000000000042"; }, 10000));
  window->bCloud_RegisterGWClick();
  window->bCloud_GWInfo1Click();
  ui().cShow_GNSS->setChecked(true);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        // Registered on the cellular network, so the report has a level to tell.
        if (ui().mMap->PointCount() != 1 || ui().pSignalLevel->value() <= ui().pSignalLevel->minimum()) return false;
        // The map has moved to the fix and loaded the tiles there.
        double latitude = 0, longitude = 0;
        ui().mMap->GetPoint(0, latitude, longitude);
        ui().mMap->PaintAround(latitude, longitude, QSize(kReportMapWidth, kReportMapHeight));
        return ui().mMap->LastPictureHasTiles() && window->PendingCommands().empty();
      },
      15000));

  const QString pdf = SaveReport(QStringLiteral("install"));
  EXPECT_EQ(ui().vStatus->Caption(), " Report written: " + pdf.toStdString() + ".pdf");
  const QString file = pdf + ".pdf";
  // For a look by eye (pdftoppm): ORVANE_REPORT_COPY=/some/file.pdf keeps a copy.
  if (const QString copy = qEnvironmentVariable("ORVANE_REPORT_COPY"); !copy.isEmpty()) QFile::copy(file, copy);

  const std::string signal = ui().pSignalLevel->toolTip().toStdString();
  EXPECT_EQ(Jq(file, "[.gateway.id, .gateway.firmware, .gateway.hardware, .account.id, .account.name, "
                     ".cloudRecord.status, (.connectivity.signalDbm|tostring), (.gnss.valid|tostring), "
                     "(.gnss.mapAvailable|tostring)] | join(\"|\")"),
            "QEL100000000000042|3.8.12|QGW-410 rev B|qel-demo|Demo account|approved|" + signal + "|true|true\n");
  // Numbers are numbers, times ISO 8601.
  EXPECT_EQ(Jq(file, "[.power.supplyVolts, .gnss.satellites, .connectivity.signalBars] | map(type) | join(\",\")"),
            "number,number,number\n");
  EXPECT_EQ(Jq(file, ".writtenUtc | test(\"^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$\")"), "true\n");
  const std::string location = Jq(file, ".gnss.location");
  ASSERT_GT(location.size(), 5u);

  const std::string text = Output(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
  for (const std::string& expected :
       {std::string("QEL100000000000042"), std::string("3.8.12"), signal + " dBm", location.substr(0, location.size() - 1)})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " not in:\n" << text;
  // The account is named; its key is never written.
  for (const std::string& secret : {kKey, Base64Encode(kKey, true)}) {
    EXPECT_EQ(text.find(secret), std::string::npos);
    EXPECT_EQ(FileText(file + ".json").find(secret), std::string::npos);
  }
  // The map picture, at the size it was drawn.
  const QString images = QString::fromStdString(Output(QStringLiteral("pdfimages"), {QStringLiteral("-list"), file}));
  bool mapFound = false;
  for (const QString& line : images.split(QLatin1Char('\n'))) {
    const QStringList columns = line.simplified().split(QLatin1Char(' '));  // page num type width height ...
    mapFound = mapFound || (columns.size() > 4 && columns[2] == QLatin1String("image") &&
                            columns[3] == QString::number(kReportMapWidth) && columns[4] == QString::number(kReportMapHeight));
  }
  EXPECT_TRUE(mapFound) << images.toStdString();
}

TEST_F(ReportTest, UnreadFactsAreMarkedAndAFailedWriteLeavesTheEarlierReport) {
  MakeWindow();
  const QString pdf = SaveReport(QStringLiteral("empty.pdf"));
  // Nothing has been read: every fact is null, never a default.
  EXPECT_EQ(Jq(pdf, "[.gateway.id, .gateway.apn, .power.supplyVolts, .power.ignition, .connectivity.signalDbm, "
                    ".state.text, .cloudRecord, .gnss.latitude, .account.id] | map(. == null) | all"),
            "true\n");
  EXPECT_EQ(Jq(pdf, "[(.bridges|length), (.state.lampsLit|length)] | join(\",\")"), "0,0\n");
  const std::string text = Output(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
  EXPECT_NE(text.find("not read"), std::string::npos) << text;
  EXPECT_NE(text.find("Map not available"), std::string::npos) << text;

  // The JSON's name is taken by a folder: neither file is replaced and no
  // temporary file stays behind.
  ASSERT_TRUE(QFile::remove(pdf + ".json"));
  ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("empty.pdf.json")));
  const std::string before = FileText(pdf);
  const QStringList filesBefore = QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
  SaveReport(QStringLiteral("empty.pdf"));
  EXPECT_EQ(ui().vStatus->Caption().rfind(" Report not written: " + pdf.toStdString() + ".json: ", 0), 0u)
      << ui().vStatus->Caption();
  EXPECT_EQ(ui().vStatus->ColorOn(), clRed);
  EXPECT_EQ(FileText(pdf), before);
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot), filesBefore);
}

}  // namespace

namespace {

// "Save profile...": what was read from the gateway, secrets only when the user
// ticked that they will be stored in clear.
TEST_F(WindowFixture, SavedProfileHoldsSecretsOnlyWhenTicked) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("customer.profile"));
  window->SetSaveFileQuery([&](const std::string&, const std::string&) { return path.toStdString(); });
  Ui::uOrvaneMonitor& ui = window->Form();
  window->HandleLine(":get 97 fleet apn");
  window->HandleLine(":get 12 aws-prod-cloud");
  window->HandleLine(":get 5640 Depot\x01");
  window->HandleLine(":get 5641 wifi-secret");
  ui.eSIMPin->setText(QStringLiteral("4321"));
  auto* secrets = window->findChild<QCheckBox*>(QStringLiteral("cProfile_Secrets"));
  ASSERT_NE(secrets, nullptr);
  struct Row {
    bool ticked;
    Settings expected;
  } const rows[] = {
      {false, {{97, "fleet apn"}, {12, "aws-prod-cloud"}, {5640, "Depot\x01"}}},
      {true, {{97, "fleet apn"}, {12, "aws-prod-cloud"}, {5640, "Depot\x01"}, {5641, "wifi-secret"}, {61, "4321"}}},
  };
  for (const Row& row : rows) {
    secrets->setChecked(row.ticked);
    window->bSaveProfileClick();
    Settings read;
    std::string error;
    EXPECT_TRUE(ParseParameterProfile(FileText(path), read, error)) << error;
    EXPECT_EQ(read, row.expected) << "ticked " << row.ticked;
    EXPECT_EQ(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
  }
}

}  // namespace

namespace {

// Connectivity facts come from reports that carry them; the window's stand-ins
// for "nothing yet" (technology 0, the bar's floor) are not facts.
TEST_F(WindowFixture, ConnectivityFactsOnlyWhatAReportCarried) {
  struct Row {
    const char* line;
    std::optional<std::string> technology;
    std::optional<int> signal, bars;
  } const rows[] = {
      {nullptr, std::nullopt, std::nullopt, std::nullopt},
      // Searching: no technology, no level.
      {":cell 0 0 0 0 \"\"", std::nullopt, std::nullopt, std::nullopt},
      {":cell 26801 1 4 71 \"QelNet\"", "4G", -71, 3},
      // Past either end of the bar: clamped, and the floor reads as no level.
      {":cell 26801 5 8 40 \"QelNet\"", "M1", -48, 5},
      {":cell 26801 1 9 130 \"QelNet\"", "NB", std::nullopt, std::nullopt},
      // WiFi has no cellular level.
      {":wifi 1 \"Depot\"", "WiFi", std::nullopt, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line ? row.line : "(none)");
    if (row.line) window->HandleLine(row.line);
    const TReportFacts facts = GatherReportFacts(*window);
    EXPECT_EQ(facts.technology, row.technology);
    EXPECT_EQ(facts.signalDbm, row.signal);
    EXPECT_EQ(facts.signalBars, row.bars);
  }
}

}  // namespace
