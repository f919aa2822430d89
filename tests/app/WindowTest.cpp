// The window as a whole: caption, tabs, start-up state, clipboard clicks and
// the application's handling of exceptions from handlers.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "FOvMonitor.h"
#include "OrvaneApplication.h"
#include "WindowFixture.h"
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

TEST(Application, ExceptionFromAHandlerIsShownAndTheLoopGoesOn) {
  auto* application = qobject_cast<TOrvaneApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  std::vector<std::string> shown;
  application->SetErrorReporter([&](const std::string& message) { shown.push_back(message); });
  QTimer::singleShot(0, [] { throw std::runtime_error("Port is in use"); });
  bool later = false;
  QTimer::singleShot(1, [&] { later = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 2000));
  EXPECT_EQ(shown, std::vector<std::string>{"Port is in use"});
  application->SetErrorReporter([](const std::string& message) { ADD_FAILURE() << message; });
}
