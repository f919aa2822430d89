// The report parsers, fed through the dispatcher as the gateway's lines would
// be, checked by what the window shows.
#include <gtest/gtest.h>

#include "FOvMonitor.h"
#include "WindowFixture.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

QColor Shown(const TLedPanel* led) { return led->palette().color(QPalette::Window); }
const QColor kGreen(0, 128, 0), kMaroon(128, 0, 0), kOlive(128, 128, 0), kLime(0, 255, 0), kAqua(0, 255, 255);

struct ReportParsersTest : WindowFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};

}  // namespace

TEST_F(ReportParsersTest, InfoFillsTrimmedIdentityAndSelectsTheServer) {
  window->HandleLine(":info QEL123456789012345, 89012345, HW2, 1.2.3, 1234, aws-prod-cloud");
  EXPECT_EQ(ui.vGWID->Caption(), "QEL123456789012345");
  EXPECT_EQ(ui.eICCID->text(), "89012345");
  EXPECT_EQ(ui.vHardware->Caption(), "HW2");
  EXPECT_EQ(ui.vVersion->Caption(), "1.2.3");
  EXPECT_EQ(ui.eOwnerID->text(), "1234");
  EXPECT_EQ(ui.cServer->currentText(), "aws-prod-cloud");
}

TEST_F(ReportParsersTest, InfoWithFewerFieldsEmptiesTheRestAndUnknownServerSelectsNone) {
  window->HandleLine(":info QEL1,8901,HW9,7.7,42,aws-test-cloud");
  window->HandleLine(":info QEL2, 8902,\tHW3\t");
  EXPECT_EQ(ui.vGWID->Caption(), "QEL2");
  EXPECT_EQ(ui.vHardware->Caption(), "HW3");  // tabs are control characters: trimmed
  EXPECT_EQ(ui.vVersion->Caption(), "");
  EXPECT_EQ(ui.eOwnerID->text(), "");
  EXPECT_EQ(ui.cServer->currentIndex(), 0);  // the empty sixth field is the empty entry

  window->HandleLine(":info QEL3,1,2,3,4,mars-cloud");
  EXPECT_EQ(ui.cServer->currentIndex(), -1);
}

TEST_F(ReportParsersTest, IoShowsVoltagesAsSentAndIgnition) {
  window->HandleLine(":io 12.3V 4.1V 1");
  EXPECT_EQ(ui.vVIN->Caption(), "12.3V");
  EXPECT_EQ(ui.vVBAT->Caption(), "4.1V");
  EXPECT_EQ(ui.vIgnition->Caption(), "ON");
  EXPECT_TRUE(ui.vIgnition->isEnabled());
  EXPECT_EQ(Shown(ui.vIgnition), kGreen);
  EXPECT_EQ(ui.vIgnition->palette().color(QPalette::WindowText), QColor(Qt::white));

  window->HandleLine(":io 12.3V 4.1V 0");
  EXPECT_EQ(ui.vIgnition->Caption(), "OFF");
  EXPECT_EQ(Shown(ui.vIgnition), kMaroon);
  window->HandleLine(":io 12.3V 4.1V 11");  // only exactly "1" is on
  EXPECT_EQ(ui.vIgnition->Caption(), "OFF");
}

TEST_F(ReportParsersTest, CellWithOperatorShowsNameRegistrationGenerationAndSignal) {
  window->HandleLine(":cell 42501 1 4 75 \"Partner\"");
  EXPECT_EQ(ui.vNetwork->Caption(), "Partner (Home)");
  EXPECT_EQ(ui.vNetwork->LedType(), ltOn);
  EXPECT_EQ(Shown(ui.vNetwork), kGreen);
  EXPECT_EQ(ui.vNetwork->toolTip(), "425/01");
  EXPECT_EQ(ui.vNetworkGen->Caption(), "4G");
  EXPECT_EQ(ui.pSignalLevel->value(), -75);
  EXPECT_EQ(ui.pSignalLevel->toolTip(), "-75");
}

TEST_F(ReportParsersTest, CellStatesAndColours) {
  struct Row {
    const char* line;
    const char* caption;
    QColor colour;
    const char* hint;
    const char* generation;
  };
  const Row rows[] = {
      {":cell 0 0 0 0", "Searching for network...", kOlive, "N/A", "2G"},
      {":cell 0 255 0 0", "SIM was not detected", kMaroon, "N/A", "2G"},
      {":cell 42503 5 9 80 \"Far\"", "Far (Roaming)", kGreen, "425/03", "NB"},
      {":cell 42503 3 8 80 \"X\"", "X (Denied)", kMaroon, "425/03", "M1"},
      // A registration without a text leaves an empty pair of parentheses.
      {":cell 42503 7 5 80 \"Y\"", "Y ()", kOlive, "425/03", ""},
      // A registration that is not a number is -1: no parentheses at all.
      {":cell 425 x 2 80 \"Z\"", "Z", kOlive, "425/", "3G"},
  };
  for (const Row& row : rows) {
    window->HandleLine(row.line);
    EXPECT_EQ(ui.vNetwork->Caption(), row.caption) << row.line;
    EXPECT_EQ(Shown(ui.vNetwork), row.colour) << row.line;
    EXPECT_EQ(ui.vNetwork->toolTip().toStdString(), row.hint) << row.line;
    EXPECT_EQ(ui.vNetworkGen->Caption(), row.generation) << row.line;
  }
}

TEST_F(ReportParsersTest, SignalIsClampedToTheBar) {
  const std::pair<const char*, int> rows[] = {
      {":cell 1 1 4 130 \"a\"", -114},  // below the floor
      {":cell 1 1 4 20 \"a\"", -48},    // above the ceiling
      {":cell 1 1 4 0 \"a\"", -114},    // no measurement
      {":cell 1 1 4 x \"a\"", -114},    // not a number: 0
      {":cell 1 1 4 1,00 \"a\"", -100}, // commas are ignored
      // Hostile numbers wrap to 32 bits; regression: the one that wraps to
      // INT_MIN was negated in 32 bits (undefined behaviour).
      {":cell 1 1 4 2147483648 \"a\"", -48},
      {":cell 1 1 4 -2147483648 \"a\"", -48},
      {":cell 1 1 4 4294967296 \"a\"", -114},                 // wraps to 0
      {":cell 1 1 4 99999999999999999999999 \"a\"", -48},     // wraps to -159383553
      {":cell 1 1 4 -99999999999999999999999 \"a\"", -114},
  };
  for (const auto& [line, level] : rows) {
    window->HandleLine(line);
    EXPECT_EQ(ui.pSignalLevel->value(), level) << line;
    EXPECT_EQ(ui.pSignalLevel->toolTip(), QString::number(level)) << line;
  }
}

TEST_F(ReportParsersTest, SimReportsOnlyLiftTheirOwnLock) {
  window->HandleLine(":sim 2");
  EXPECT_EQ(ui.vNetwork->Caption(), "SIM Locked");
  EXPECT_EQ(Shown(ui.vNetwork), kMaroon);
  window->HandleLine(":sim 1");
  EXPECT_EQ(ui.vNetwork->Caption(), "SIM Ready");
  EXPECT_EQ(Shown(ui.vNetwork), kOlive);

  window->HandleLine(":sim 2");
  window->HandleLine(":sim 0");
  EXPECT_EQ(ui.vNetwork->Caption(), "Unknown SIM state");

  window->HandleLine(":cell 42501 1 4 75 \"Partner\"");
  window->HandleLine(":sim 1");
  EXPECT_EQ(ui.vNetwork->Caption(), "Partner (Home)");
  EXPECT_EQ(Shown(ui.vNetwork), kGreen);
}

TEST_F(ReportParsersTest, WifiShowsNetworkAndEmptiesTheBar) {
  window->HandleLine(":cell 42501 1 4 75 \"Partner\"");
  window->HandleLine(":wifi 1 \"Office\"");
  EXPECT_EQ(ui.vNetwork->Caption(), "Office (WiFi)");
  EXPECT_EQ(Shown(ui.vNetwork), kGreen);
  EXPECT_EQ(ui.vNetworkGen->Caption(), "WiFi");
  EXPECT_EQ(ui.pSignalLevel->value(), -114);
  EXPECT_EQ(ui.pSignalLevel->toolTip(), "");

  window->HandleLine(":wifi 1");
  EXPECT_EQ(ui.vNetwork->Caption(), "Connected (WiFi)");
  window->HandleLine(":wifi 0 \"Office\"");
  EXPECT_EQ(ui.vNetwork->Caption(), "Disconnected");
  EXPECT_EQ(Shown(ui.vNetwork), kMaroon);
}

TEST_F(ReportParsersTest, CloudStateLightsLampsUpToItsLevel) {
  TLedPanel* const lamps[] = {ui.lGWS_NotRegistered, ui.lGWS_RegPending, ui.lGWS_Registered,
                              ui.lGWS_NotApproved,   ui.lGWS_Approved,   ui.lGWS_Online};
  window->HandleLine(":state registered,Offline");
  EXPECT_EQ(ui.pGWS_Online->text(), "Offline");
  EXPECT_EQ(ui.vGWStatus->Caption(), "registered");
  EXPECT_TRUE(ui.vGWStatus->isEnabled());
  EXPECT_EQ(ui.vGWStatus->LedType(), ltTrigger);
  EXPECT_EQ(Shown(ui.vGWStatus), kAqua);
  const TLedType registered[] = {ltOn, ltOn, ltBlink, ltOff, ltOff, ltOff};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(lamps[i]->LedType(), registered[i]) << i;
    EXPECT_TRUE(lamps[i]->isEnabled()) << i;
  }
  EXPECT_EQ(Shown(lamps[0]), kGreen);
  EXPECT_EQ(Shown(lamps[5]), kOlive);

  window->HandleLine(":state online");
  EXPECT_EQ(ui.pGWS_Online->text(), "Online");
  EXPECT_EQ(ui.vGWStatus->LedType(), ltOn);
  EXPECT_EQ(Shown(ui.vGWStatus), kLime);
  for (TLedPanel* lamp : lamps) EXPECT_EQ(lamp->LedType(), ltOn);

  window->HandleLine(":state Online");  // status words are case-sensitive
  EXPECT_FALSE(ui.vGWStatus->isEnabled());
  for (TLedPanel* lamp : lamps) {
    EXPECT_EQ(lamp->LedType(), ltOff);
    EXPECT_FALSE(lamp->isEnabled());
  }
}

TEST_F(ReportParsersTest, ResetEmptiesTheDisplays) {
  window->HandleLine(":info QEL123456789012345, 89012345, HW2, 1.2.3, 1234, aws-prod-cloud");
  window->HandleLine(":io 12.3V 4.1V 1");
  window->HandleLine(":cell 42501 1 4 75 \"Partner\"");
  window->HandleLine(":state online");
  ui.eSIMPin->setText("1234");
  ui.eWiFi_SSID->setText("My Net");
  window->ResetGatewayState();

  EXPECT_EQ(ui.vGWID->Caption(), "");
  EXPECT_EQ(ui.eICCID->text(), "");
  EXPECT_EQ(ui.eOwnerID->text(), "");
  EXPECT_EQ(ui.vVIN->Caption(), "");
  EXPECT_FALSE(ui.vIgnition->isEnabled());
  EXPECT_EQ(ui.vNetwork->Caption(), "");
  EXPECT_EQ(ui.vNetwork->toolTip(), "");
  EXPECT_EQ(ui.vNetwork->LedType(), ltOff);
  EXPECT_EQ(ui.vNetworkGen->Caption(), "");
  EXPECT_EQ(ui.pSignalLevel->value(), -114);
  EXPECT_EQ(ui.pSignalLevel->toolTip(), "");  // regression: the old level's hint stayed
  EXPECT_FALSE(ui.vGWStatus->isEnabled());
  EXPECT_EQ(ui.pGWS_Online->text(), "Online");
  // Kept: what the user typed and the server selection.
  EXPECT_EQ(ui.eSIMPin->text(), "1234");
  EXPECT_EQ(ui.eWiFi_SSID->text(), "My Net");
  EXPECT_EQ(ui.cServer->currentText(), "aws-prod-cloud");
}
