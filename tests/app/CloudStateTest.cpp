// The gateway's own report of its cloud state (":state") on the six lamps:
// every level of the table, with the lamp modes and colours a technician sees.
#include <gtest/gtest.h>

#include "WindowFixture.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

QColor Shown(const TLedPanel* led) { return led->palette().color(QPalette::Window); }
const QColor kGreen(0, 128, 0), kOlive(128, 128, 0), kLime(0, 255, 0), kAqua(0, 255, 255);

struct CloudStateTest : WindowFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};

TEST_F(CloudStateTest, EveryLevelOnTheSixLamps) {
  constexpr TLedType X = ltOn, B = ltBlink, o = ltOff;
  const struct {
    const char* text;
    const char* onlineCaption;
    TLedType lamps[6];
  } cases[] = {
      {"connected", "Online", {X, X, X, X, X, X}},
      {"online,Online since 10:02", "Online since 10:02", {X, X, X, X, X, X}},
      {"approved,Offline", "Offline", {X, X, X, X, X, B}},
      {"not approved", "Online", {X, X, X, B, o, o}},
      {"registered,Offline", "Offline", {X, X, B, o, o, o}},
      {"reg. pending, Waiting ,ignored", "Waiting", {X, B, o, o, o, o}},
      {"  not registered  ,", "Online", {B, o, o, o, o, o}},
      // Anything else, or nothing, turns all off and disables them.
      {"Registered", "Online", {o, o, o, o, o, o}},
      {"deleted,Offline", "Offline", {o, o, o, o, o, o}},
      {"", "Online", {o, o, o, o, o, o}},
  };
  TLedPanel* const lamps[] = {ui.lGWS_NotRegistered, ui.lGWS_RegPending, ui.lGWS_Registered,
                              ui.lGWS_NotApproved,   ui.lGWS_Approved,   ui.lGWS_Online};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    window->ShowCloudState(c.text);
    const bool known = c.lamps[0] != ltOff;
    const bool online = c.lamps[5] == ltOn;
    EXPECT_EQ(ui.pGWS_Online->text().toStdString(), c.onlineCaption);
    EXPECT_EQ(ui.vGWStatus->isEnabled(), known);
    if (known) {
      // Steady lime once online, otherwise a short aqua flash.
      EXPECT_EQ(ui.vGWStatus->LedType(), online ? ltOn : ltTrigger);
      EXPECT_EQ(Shown(ui.vGWStatus), online ? kLime : kAqua);
    }
    for (int n = 0; n < 6; ++n) {
      EXPECT_EQ(lamps[n]->LedType(), c.lamps[n]) << "lamp " << n + 1;
      EXPECT_EQ(lamps[n]->isEnabled(), known) << "lamp " << n + 1;
      if (known) {
        EXPECT_EQ(Shown(lamps[n]), c.lamps[n] == ltOff ? kOlive : kGreen) << "lamp " << n + 1;
      }
      // A blinking lamp runs its own timer; steady and dark ones do not.
      EXPECT_EQ(lamps[n]->IsTimerRunning(), known && c.lamps[n] == ltBlink) << "lamp " << n + 1;
    }
  }
}

}  // namespace
