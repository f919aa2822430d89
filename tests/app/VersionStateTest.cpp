// The software version panel pAppVer: what the stored answer shows, the
// weekly check at start, a click that checks now or opens the download, and
// the answer coming back. The program's own version here is 2.0.0.0.
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

TEST_F(VersionStateTest, FirstStartRemembersTheVersionAndChecks) {
  Start();
  EXPECT_EQ(settings.ReadString({}, kVersionValue, {}), "2.0.0.0");
  EXPECT_EQ(Panel()->Caption(), "");
  EXPECT_EQ(CheckDay(), 46100);
  // The check to a closed port fails: nothing is stored, nothing shown.
  WaitForChecks();
  QTest::qWait(50);
  EXPECT_FALSE(settings.ValueExists({}, kVersionAvailableValue));
  EXPECT_EQ(Panel()->Caption(), "");
}

TEST_F(VersionStateTest, StoredAnswerIsShownAtStart) {
  const struct {
    const char* available;
    const char* caption;
    TLedType mode;
  } cases[] = {
      {"2.0.0.0", "Software is up to date", ltOff},
      {"2.0.0.0\r\n", "Newer version is available", ltOn},  // a line break never equals
      {"1.9.0.0", "Newer version is available", ltOn},      // any other version counts
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.available);
    settings.WriteString({}, kVersionValue, "2.0.0.0");
    settings.WriteString({}, kVersionAvailableValue, c.available);
    settings.WriteInteger({}, kVersionCheckValue, 46099);  // checked yesterday: not due
    Start();
    EXPECT_EQ(Panel()->Caption(), c.caption);
    EXPECT_EQ(Panel()->LedType(), c.mode);
    EXPECT_EQ(Panel()->cursor().shape(), c.mode == ltOn ? Qt::PointingHandCursor : Qt::ArrowCursor);
    EXPECT_FALSE(Panel()->AutoTrigger());
    EXPECT_EQ(CheckDay(), 46099);
  }
}

TEST_F(VersionStateTest, NewOwnVersionForgetsTheCheckAndChecksAtOnce) {
  settings.WriteString({}, kVersionValue, "1.0.0.0");
  settings.WriteString({}, kVersionAvailableValue, "2.0.0.0");
  settings.WriteInteger({}, kVersionCheckValue, 46099);
  Start();
  EXPECT_EQ(settings.ReadString({}, kVersionValue, {}), "2.0.0.0");
  EXPECT_FALSE(settings.ValueExists({}, kVersionAvailableValue));
  EXPECT_EQ(Panel()->Caption(), "");
  EXPECT_EQ(CheckDay(), 46100);
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
