// The window as a whole: caption, tabs, start-up state and its data, clipboard
// clicks and the application's handling of exceptions from handlers.
#include <gtest/gtest.h>

#include <functional>
#include <new>

#include <QScreen>
#include <QTest>
#include <QTimer>
#include <map>
#include <stdexcept>

#include "FOvMonitor.h"
#include "OrvaneApplication.h"
#include "WindowFixture.h"
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"
#include "serial/AfComPort.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/Clipboard.h"
#include "widgets/LedPanel.h"

namespace {
struct WindowTest : WindowFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};
}  // namespace

TEST_F(WindowTest, CaptionCarriesAllFourVersionParts) {
  EXPECT_EQ(window->AppVersionText(), "2.0.0.0");
  EXPECT_EQ(window->windowTitle(), "Qel Orvane Monitor v2.0.0.0");
  EXPECT_EQ(window->size(), QSize(521, 418));
}

TEST_F(WindowTest, OpensInTheCentreOfTheScreen) {
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  const QPoint offset = window->geometry().center() - centre;
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
}

// The platform appends an explicitly set display name to every shown window
// title; the application title must come from the name alone, so that the
// title bar reads exactly the window's caption.
TEST(Application, TitleIsTheNameAndNotAppendedToCaptions) {
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Qel Orvane Monitor");
  const QString name = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName(QStringLiteral("probe"));
  const QString followed = QGuiApplication::applicationDisplayName();
  QCoreApplication::setApplicationName(name);
  EXPECT_EQ(followed, "probe") << "an explicit display name is set";
}

TEST_F(WindowTest, TabsInOrderWithDebugHidden) {
  const QStringList captions = {"Gateway configuration", "Bridges", "GNSS", "Orvane cloud", "Debug",
                                "Gateway Information", "Gateway parameters"};
  ASSERT_EQ(ui.PageControl1->count(), captions.size());
  for (int i = 0; i < captions.size(); ++i) {
    EXPECT_EQ(ui.PageControl1->tabText(i), captions[i]);
    EXPECT_EQ(ui.PageControl1->isTabVisible(i), captions[i] != "Debug");
  }
  EXPECT_EQ(ui.PageControl1->currentWidget(), ui.tCellular);
}

TEST_F(WindowTest, StartsClosedWithTimersStoppedAndDisplaysEmpty) {
  EXPECT_FALSE(ui.bClose->isEnabled());
  EXPECT_FALSE(window->tCommands.isActive());
  EXPECT_FALSE(window->tKeepAlive.isActive());
  EXPECT_FALSE(window->tRefreshBridges.isActive());
  EXPECT_FALSE(window->tAutoDisplayGWInfo.isActive());
  EXPECT_EQ(window->tRefreshBridges.interval(), 1000);
  EXPECT_EQ(window->tAutoDisplayGWInfo.interval(), 1500);
  EXPECT_FALSE(ui.vIgnition->isEnabled());
  EXPECT_EQ(ui.pSignalLevel->value(), -114);
  EXPECT_EQ(ui.tBridgeLevel->value(), -120);
  EXPECT_FALSE(ui.bBRG_Signal->isVisible());
}

TEST_F(WindowTest, PinAndWiFiPasswordAreMaskedWithStars) {
  for (QLineEdit* secret : {ui.eSIMPin, ui.eWiFi_Password}) {
    secret->setText(QStringLiteral("1234"));
    EXPECT_EQ(secret->displayText(), QStringLiteral("****")) << secret->objectName().toStdString();
    secret->clear();
  }
}

TEST_F(WindowTest, ClickOnAValuePanelCopiesItsCaption) {
  window->show();
  window->HandleLine(":info QEL123456789012345,1,HW2,1.2.3,4,");
  QTest::mouseClick(ui.vGWID, Qt::LeftButton);
  EXPECT_EQ(ClipboardText(), "QEL123456789012345");
  QTest::mouseClick(ui.vHardware, Qt::LeftButton);
  EXPECT_EQ(ClipboardText(), "HW2");
  ui.PageControl1->setCurrentWidget(ui.tGNSS);
  QTest::mouseClick(ui.vGNSS_Sat, Qt::LeftButton);  // empty panel: empty text
  EXPECT_EQ(ClipboardText(), "");
}

TEST_F(WindowTest, OpenWithoutASelectedPortDoesNothing) {
  ui.cComPort->setCurrentIndex(-1);
  ui.bOpen->click();
  EXPECT_FALSE(ui.bClose->isEnabled());
}

TEST(Application, ExceptionFromAHandlerIsLoggedShownAndTheLoopGoesOn) {
  auto* application = qobject_cast<TOrvaneApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  const struct {
    const char* what;
    std::function<void()> handler;
    const char* shown;
  } cases[] = {
      {"error", [] { throw std::runtime_error("Port is in use"); }, "Port is in use"},
      {"out of memory", [] { throw std::bad_alloc(); }, "Out of memory"},
      {"not an exception class", [] { throw 42; }, "Unknown error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> shown;
    application->SetErrorReporter([&](const std::string& message) { shown.push_back(message); });
    testing::internal::CaptureStderr();
    QTimer::singleShot(0, c.handler);
    bool later = false;
    QTimer::singleShot(1, [&] { later = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 2000));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, std::vector<std::string>{c.shown});
    EXPECT_NE(logged.find("orvane-monitor: "), std::string::npos) << logged;
  }
  // While one error is shown (its box runs a nested loop), the next one is
  // only logged: a failing timer must not stack up message boxes.
  std::vector<std::string> shown;
  application->SetErrorReporter([&](const std::string& message) {
    shown.push_back(message);
    if (shown.size() == 1) {
      QTimer::singleShot(0, [] { throw std::runtime_error("second"); });
      QTest::qWait(20);
      // A reporter that fails itself ends nothing either.
      throw std::runtime_error("the box failed");
    }
  });
  testing::internal::CaptureStderr();
  QTimer::singleShot(0, [] { throw std::runtime_error("first"); });
  QTest::qWait(50);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown, std::vector<std::string>{"first"});
  EXPECT_NE(logged.find("second"), std::string::npos) << logged;
  application->SetErrorReporter([](const std::string& message) { ADD_FAILURE() << message; });
}

TEST_F(WindowTest, ServerSelectorListsTheServersTableAfterAnEmptyEntry) {
  QStringList entries;
  for (int i = 0; i < ui.cServer->count(); ++i) entries << ui.cServer->itemText(i);
  EXPECT_EQ(entries, QStringList({"", "aws-prod-cloud", "aws-test-cloud", "aws-dev-cloud"}));
  EXPECT_EQ(ui.cServer->currentIndex(), 0);
  window->HandleLine(":get 12 AWS-PROD-CLOUD");
  EXPECT_EQ(ui.cServer->currentText(), "aws-prod-cloud");
}

// A technician's (or the demo's) settings point one cloud environment at
// another host; the others keep theirs.
TEST(Startup, EndpointInTheSettingsReplacesThatServersHost) {
  TRegIniExtended settings;
  settings.WriteString("Endpoints", "aws-test-cloud", "127.0.0.1:8443");
  std::map<std::string, std::string> hosts;
  {
    TFOvMonitor window;
    TSQLiteQuery query(window.DB());
    query.SQL = {"SELECT *", "FROM `servers`", "ORDER BY `id`"};
    for (bool row = query.Open(); row; row = query.Next())
      hosts[query.FieldValue("name").ToString()] = query.FieldValue("url").ToString();
  }
  settings.DeleteKey("Endpoints", "aws-test-cloud");
  EXPECT_EQ(hosts["aws-test-cloud"], "127.0.0.1:8443");
  EXPECT_EQ(hosts["aws-prod-cloud"], DefaultServerHost("aws-prod-cloud"));
  EXPECT_EQ(hosts["aws-dev-cloud"], DefaultServerHost("aws-dev-cloud"));
}

// A serial event reaches the window through the main-thread call-in rather
// than the event loop; an exception there is shown like any other, and the
// dialogue with the gateway goes on.
TEST_F(LinkFixture, ExceptionFromASerialEventIsShownAndTheLinkGoesOn) {
  auto* application = qobject_cast<TOrvaneApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  std::vector<std::string> shown;
  application->SetErrorReporter([&](const std::string& message) { shown.push_back(message); });
  OpenCom1();
  EXPECT_EQ(gateway.NextLine(), "%info\r");

  const auto handler = window->Com().OnDataRecived;
  window->Com().OnDataRecived = [](QObject*, int) { throw std::runtime_error("Receive handler failed"); };
  gateway.Send("noise\r\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.empty(); }, 5000));
  window->Com().OnDataRecived = handler;
  EXPECT_EQ(shown, std::vector<std::string>{"Receive handler failed"});
  EXPECT_TRUE(window->Com().IsPortOpen());
  Acknowledge("OK info");
  EXPECT_EQ(window->PendingCommands().front(), "%show_off");
  application->SetErrorReporter([](const std::string& message) { ADD_FAILURE() << message; });
}
