// The software version panel pAppVer. The program's own version here is 2.0.0.0.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QTest>
#include <QUrl>
#include <cmath>

#include "CloudSimProcess.h"
#include "FOvMonitor.h"
#include "cloud/MyThread_Web.h"
#include "cloud/VersionCheck.h"
#include "support/Clock.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

// Takes the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

namespace {

const double kToday = 46100.4;  // some afternoon

struct VersionStateTest : ::testing::Test {
  VersionStateTest() {
    SetNowOverride([] { return kToday; });
    for (const char* name : {kVersionValue, kVersionAvailableValue, kVersionCheckValue}) settings.DeleteKey({}, name);
  }
  ~VersionStateTest() override {
    window.reset();
    WaitForChecks();
    SetNowOverride({});
    // As the test program set it up: checks never leave this machine.
    settings.WriteString("Endpoints", kVersionHostValue, "127.0.0.1:1");
  }
  void Start() { window = std::make_unique<TFOvMonitor>(); }
  static void WaitForChecks() { EXPECT_TRUE(QTest::qWaitFor([] { return TAsyncWebRequest::Running() == 0; }, 30000)); }
  TLedPanel* Panel() { return window->Form().pAppVer; }
  int CheckDay() const { return settings.ReadInteger({}, kVersionCheckValue, -1); }

  TRegIniExtended settings;
  std::unique_ptr<TFOvMonitor> window;
};

TEST_F(VersionStateTest, StartShowsTheStoredAnswerAndChecksWhenDue) {
  const struct {
    const char *version, *available;  // nullptr: not stored
    int checkDay;                     // -1: not stored
    const char* caption;
    int checkDayAfter;
  } rows[] = {
      {nullptr, nullptr, -1, "", 46100},  // first start: checks, and the check to a closed port stores nothing
      {"2.0.0.0", "2.0.0.0", 46099, "Software is up to date", 46099},  // checked yesterday: not due
      {"2.0.0.0", "2.0.0.0\r\n", 46099, "Newer version is available", 46099},  // a line break never equals
      {"2.0.0.0", "1.9.0.0", 46099, "Newer version is available", 46099},    // any other version counts
      {"1.0.0.0", "2.0.0.0", 46099, "", 46100},  // a new own version forgets the answer and checks at once
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.available ? row.available : "(first start)");
    for (const char* name : {kVersionValue, kVersionAvailableValue, kVersionCheckValue}) settings.DeleteKey({}, name);
    if (row.version) settings.WriteString({}, kVersionValue, row.version);
    if (row.available) settings.WriteString({}, kVersionAvailableValue, row.available);
    if (row.checkDay >= 0) settings.WriteInteger({}, kVersionCheckValue, row.checkDay);
    Start();
    EXPECT_EQ(settings.ReadString({}, kVersionValue, {}), "2.0.0.0");
    EXPECT_EQ(Panel()->Caption(), row.caption);
    const bool newer = std::string(row.caption) == "Newer version is available";
    if (*row.caption) {
      EXPECT_EQ(Panel()->LedType(), newer ? ltOn : ltOff);
      EXPECT_EQ(Panel()->cursor().shape(), newer ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
    EXPECT_FALSE(Panel()->AutoTrigger());
    EXPECT_EQ(CheckDay(), row.checkDayAfter);
    WaitForChecks();
    QTest::qWait(50);
    EXPECT_EQ(Panel()->Caption(), row.caption);
    const bool checked = row.checkDayAfter != row.checkDay;
    EXPECT_EQ(settings.ValueExists({}, kVersionAvailableValue), !checked);
    window.reset();
  }
}

TEST_F(VersionStateTest, ClickChecksNowAndAFailedCheckChangesOnlyTheDay) {
  settings.WriteString({}, kVersionValue, "2.0.0.0");
  settings.WriteString({}, kVersionAvailableValue, "2.0.0.0");
  settings.WriteInteger({}, kVersionCheckValue, 46098);
  Start();
  UrlCatcher browser;
  window->pAppVerClick();
  // "Checking..." gives way at once to the stored state.
  EXPECT_EQ(Panel()->Caption(), "Software is up to date");
  EXPECT_FALSE(Panel()->AutoTrigger());
  EXPECT_EQ(CheckDay(), 46100);
  WaitForChecks();
  QTest::qWait(50);
  EXPECT_EQ(settings.ReadString({}, kVersionAvailableValue, {}), "2.0.0.0");
  EXPECT_EQ(Panel()->Caption(), "Software is up to date");
  EXPECT_TRUE(browser.opened.isEmpty());
}

TEST_F(VersionStateTest, AnswerShowsTheNewerVersionAndAClickOpensTheDownload) {
  settings.WriteString({}, kVersionValue, "2.0.0.0");
  settings.WriteInteger({}, kVersionCheckValue, 46099);
  Start();
  window->OnVersionAnswer(404, "not here");
  window->OnVersionAnswer(200, "");
  EXPECT_EQ(Panel()->Caption(), "");
  window->OnVersionAnswer(200, "2.1.0.0\n");
  EXPECT_EQ(settings.ReadString({}, kVersionAvailableValue, {}), "2.1.0.0\n");
  EXPECT_EQ(Panel()->Caption(), "Newer version is available");
  EXPECT_EQ(Panel()->LedType(), ltOn);

  UrlCatcher browser;
  window->pAppVerClick();
  ASSERT_EQ(browser.opened.size(), 1);
  EXPECT_EQ(browser.opened[0].toString(), "https://127.0.0.1:1/files/OrvaneMonitor.zip");
  EXPECT_EQ(CheckDay(), 46099);
}

// The whole road: the check at start fetches the version file from the
// simulated maker's server on a worker thread, and the answer lights the panel
// in the GUI thread. The published text ends in a line break, as files do.
TEST_F(VersionStateTest, CheckAtStartFetchesThePublishedVersion) {
  CloudSimProcess sim({"--published-version", "2.0.0.0\n"});
  ASSERT_TRUE(sim.IsRunning());
  sim.TrustCertificate();
  settings.WriteString("Endpoints", kVersionHostValue, sim.Host());
  Start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Panel()->Caption() == "Newer version is available"; }, 20000))
      << Panel()->Caption();
  EXPECT_EQ(settings.ReadString({}, kVersionAvailableValue, {}), "2.0.0.0\n");
  EXPECT_EQ(Panel()->LedType(), ltOn);
}

}  // namespace

#include "VersionStateTest.moc"
