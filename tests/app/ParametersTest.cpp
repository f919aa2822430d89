// ":get" answers routed to their fields (no port needed).
#include <gtest/gtest.h>

#include "FOvMonitor.h"
#include "WindowFixture.h"
#include "ui_uOrvaneMonitor.h"

namespace {
struct ParseGetTest : WindowFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};
}  // namespace

TEST_F(ParseGetTest, ValuesReachTheirFieldsWithInnerBlanks) {
  window->HandleLine(":get 97 internet");
  window->HandleLine(":get 5640 My Net");
  window->HandleLine(":get 5641 s3cret pass");
  window->HandleLine(":get 64 8997201");
  window->HandleLine(":get 1 1234");
  EXPECT_EQ(ui.eAPN->text(), "internet");
  EXPECT_EQ(ui.eWiFi_SSID->text(), "My Net");
  EXPECT_EQ(ui.eWiFi_Password->text(), "s3cret pass");
  EXPECT_EQ(ui.eICCID->text(), "8997201");
  EXPECT_EQ(ui.eOwnerID->text(), "1234");
  window->HandleLine(":get 97");  // no value: the field is emptied
  EXPECT_EQ(ui.eAPN->text(), "");
}

TEST_F(ParseGetTest, ServerIsSelectedIgnoringCase) {
  window->HandleLine(":get 12 AWS-PROD-CLOUD");
  EXPECT_EQ(ui.cServer->currentText(), "aws-prod-cloud");
  window->HandleLine(":get 12 other");
  EXPECT_EQ(ui.cServer->currentIndex(), -1);
}

TEST_F(ParseGetTest, PinAndUnknownParametersChangeNothing) {
  ui.eSIMPin->setText("1111");
  ui.eAPN->setText("keep");
  window->HandleLine(":get 61 9999");
  window->HandleLine(":get 99 x");
  window->HandleLine(":get x97 y");
  EXPECT_EQ(ui.eSIMPin->text(), "1111");
  EXPECT_EQ(ui.eAPN->text(), "keep");
}

// The buttons, pressed on an open port: the exact lines they queue.
namespace {

struct ParameterButtonsTest : OpenLinkFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};

}  // namespace

TEST_F(ParameterButtonsTest, WriteButtonsSendValuesAsTyped) {
  ui.eAPN->setText("internet");
  ui.bWrite_APN->click();
  ui.eWiFi_SSID->setText("My Net");
  ui.eWiFi_Password->setText("");
  ui.bWrite_WiFi->click();
  ui.eSIMPin->setText("0000");
  ui.bWrite_Pin->click();
  EXPECT_EQ(Queue(), (Lines{"%par_set 97 internet", "%par_set 5640 My Net", "%par_set 5641 ", "%par_set 61 0000"}));
}

TEST_F(ParameterButtonsTest, ReadButtonsAskForTheirParameters) {
  ui.bRead_APN->click();
  ui.bRead_ICCID->click();
  ui.bRead_OwnerID->click();
  ui.bRead_Server->click();
  ui.bRead_WiFi->click();
  EXPECT_EQ(Queue(), (Lines{"%par_get 97", "%par_get 64", "%par_get 1", "%par_get 12", "%par_get 5640",
                            "%par_get 5641"}));
}

TEST_F(ParameterButtonsTest, ServerWriteSendsTheSelectedNameOrNothing) {
  ui.cServer->setCurrentIndex(2);
  ui.bWrite_Server->click();
  ui.cServer->setCurrentIndex(0);
  ui.bWrite_Server->click();
  EXPECT_EQ(Queue(), (Lines{"%par_set 12 aws-test-cloud", "%par_set 12 "}));
}

TEST_F(ParameterButtonsTest, CommandButtons) {
  ui.bCmd_Defaults->click();
  ui.bCmd_Connect->click();
  EXPECT_EQ(Queue(), (Lines{"%default", "%connect"}));
}

TEST_F(ParameterButtonsTest, UnregisterAsksFirstAndNoQueuesNothing) {
  std::string asked;
  bool answer = false;
  window->SetQuestionHandler([&](const std::string& text) {
    asked = text;
    return answer;
  });
  ui.bReset_OwnerID->click();
  EXPECT_EQ(asked, "Do you want to unregister this gateway from Orvane't platform?");
  EXPECT_TRUE(Queue().empty());

  answer = true;
  ui.bReset_OwnerID->click();
  EXPECT_EQ(Queue(), (Lines{"%par_set 1 ", "%par_get 1"}));
  EXPECT_EQ(gateway.NextLine(), "%par_set 1 \r");
}

// Regression: a pasted value with a line break used to put a second command
// on the wire.
TEST_F(ParameterButtonsTest, LineBreaksInAValueCannotStartASecondCommand) {
  window->SetParameter(97, "net\r%reboot\n");
  EXPECT_EQ(Queue(), (Lines{"%par_set 97 net%reboot"}));
  EXPECT_EQ(gateway.NextLine(), "%par_set 97 net%reboot\r");
}

// Regression: values shown from ":get" were written back as UTF-8 whatever
// code page they came in, so an untouched Latin-1 SSID changed on the gateway.
TEST_F(ParameterButtonsTest, GatewayBytesGoBackUnchangedAndEditsKeepTheirCodePage) {
  struct Row {
    const char* shown;   // the ":get 97" value as the gateway sent it
    QString typed;       // the user's edit; null when left alone
    std::string sent;    // the value of the "%par_set 97" line
  };
  const Row rows[] = {
      {"Caf\xE9", QString(), "Caf\xE9"},                          // Latin-1, untouched
      {"Caf\xC3\xA9", QString(), "Caf\xC3\xA9"},                  // UTF-8, untouched
      {"Caf\xE9", QStringLiteral("Caf\u00E9 2"), "Caf\xE9 2"},    // edited: still Latin-1
      {"Caf\xC3\xA9", QStringLiteral("\u00E9t\u00E9"), "\xC3\xA9t\xC3\xA9"},  // edited: still UTF-8
      {"Caf\xE9", QStringLiteral("\u20AC"), "\xE2\x82\xAC"},      // beyond Latin-1: UTF-8
      {"", QStringLiteral("\u00E9"), "\xC3\xA9"},                 // nothing shown: typed text is UTF-8
  };
  for (const Row& row : rows) {
    window->HandleLine(std::string(":get 97 ") + row.shown);
    if (!row.typed.isNull()) ui.eAPN->setText(row.typed);
    ui.bWrite_APN->click();
    EXPECT_EQ(Queue().back(), "%par_set 97 " + row.sent) << row.shown;
  }
}
