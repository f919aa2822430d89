// The connected gateway in the cloud: the real window against cloud-sim over HTTPS.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTest>

#include "CloudFixture.h"
#include "CloudSimProcess.h"
#include "WindowFixture.h"
#include "cloud/GatewayCloud.h"
#include "cloud/MyCrypt.h"
#include "cloud/MyInternet.h"
#include "cloud/MyJSON.h"
#include "cloud/OrvaneApi.h"
#include "db/MySQLite.h"
#include "widgets/LedPanel.h"

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

const std::string kGateway = "QEL000000000000001";
const std::string kOwner = "qel-demo";
const std::string kKey = "OrvaneDemoKey2026";

struct CloudRegistration : CloudFixture {
  explicit CloudRegistration(std::vector<std::string> simOptions = {})
      : sim([&] {
          std::vector<std::string> options = {"--account", kOwner + ":" + Base64Encode(kKey, true), "--account",
                                              "other:" + Base64Encode("other key", true), "--gateway",
                                              "other:QEL000000000000099:approved:online"};
          options.insert(options.end(), simOptions.begin(), simOptions.end());
          return options;
        }()) {
    sim.TrustCertificate();
    TRegIniExtended().WriteString("Endpoints", "aws-test-cloud", sim.Host());
  }
  ~CloudRegistration() override {
    window.reset();
    TRegIniExtended().DeleteKey("Endpoints", "aws-test-cloud");
  }

  void StartWithAccount(const std::string& key = kKey) {
    StoreAccount({kOwner, "Demo", key, "aws-test-cloud", {}});
    TRegIniExtended().WriteString({}, kAccountIdValue, kOwner);
    MakeWindow();
    ASSERT_NE(window->CloudClient(), nullptr);
  }
  void Connect(const std::string& gatewayId = kGateway) {
    window->HandleLine(":info " + gatewayId + ",8901,QGW-4,2.7.1,,aws-test-cloud");
    Settle();
  }
  // Cloud operations run on the worker: a click returns at once, the outcome follows.
  void Settle() { ASSERT_TRUE(QTest::qWaitFor([&] { return window->CloudIdle(); }, 20000)); }
  void Click(QAbstractButton* button) {
    button->click();
    Settle();
  }
  std::string Status() { return ui().vStatus->Caption(); }
  TColor Flash() {
    EXPECT_EQ(ui().vStatus->LedType(), ltTrigger);
    return ui().vStatus->ColorOn();
  }
  std::string Control(std::uint8_t verb, const std::string& path, const std::string& body = {}) {
    TWebRequest request(sim.Url(path));
    request.Verb = verb;
    request.SetContent(body, "text/plain");
    return request.Execute() ? request.Response : std::string("(failed)");
  }
  static Rows Grid(QTableWidget* grid) {
    Rows rows;
    for (int row = 0; row < grid->rowCount(); ++row)
      rows.emplace_back(grid->item(row, 0) ? grid->item(row, 0)->text().toStdString() : "?",
                        grid->item(row, 1) ? grid->item(row, 1)->text().toStdString() : "?");
    return rows;
  }
  void ExpectGridsEmpty() {
    EXPECT_EQ(Grid(ui().sCloud_GWInfo), (Rows{{"", ""}}));
    EXPECT_EQ(Grid(ui().sCloud_GWConfig), (Rows{{"", ""}}));
  }

  CloudSimProcess sim;
};

TEST_F(CloudRegistration, RegisterAndDeleteShowTheCloudsAnswer) {
  ASSERT_TRUE(sim.IsRunning());
  StartWithAccount();
  const bool reg = true, del = false;
  const struct {
    std::string gateway;
    bool registers;
    const char* fault;
    std::string status;
    TColor flash;
  } rows[] = {
      {kGateway, reg, "", " Register: OK", clLime},  // also fetches the token for the fault rows
      {"QEL000000000000099", reg, "", " Register: Gateway QEL000000000000099 is registered to another account",
       clRed},  // an answer with only a "message"
      {kGateway, del, "", " Delete: OK", clLime},
      {kGateway, del, "", " Delete: Gateway " + kGateway + " not found", clRed},
      // A transport failure says so, with its cause; an answer that is not JSON says nothing.
      {kGateway, reg, "drop", " Register: network error: Transferred a partial file", clRed},
      {kGateway, reg, "garbage", " Register: ", clRed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.status);
    if (*row.fault) {
      ASSERT_NE(Control(wvPUT, "/sim/fault?count=1", row.fault), "(failed)");
    }
    Connect(row.gateway);
    Click(row.registers ? ui().bCloud_RegisterGW : ui().bCloud_DeleteGW);
    EXPECT_EQ(Status(), row.status);
    EXPECT_EQ(Flash(), row.flash);
  }
}

TEST_F(CloudRegistration, NoAccountOrABadKeyIsSaidSo) {
  MakeWindow();
  Connect();
  Click(ui().bCloud_RegisterGW);
  EXPECT_EQ(Status(), " API not configured");
  EXPECT_EQ(Flash(), clRed);
  Click(ui().bCloud_DeleteGW);
  EXPECT_EQ(Status(), " API not configured");
  // The summary says nothing at all.
  ui().vStatus->SetCaption("old");
  Click(ui().bCloud_Check);
  EXPECT_EQ(Status(), "");
  EXPECT_EQ(ui().lCloud_AccountID->ColorOn(), clRed);

  window.reset();
  StartWithAccount("not the key");
  Connect();
  Click(ui().bCloud_RegisterGW);
  EXPECT_EQ(Status(), " Invalid API key");
  EXPECT_EQ(Flash(), clRed);
  EXPECT_EQ(ui().lCloud_AccountID->ColorOn(), clRed);
  // The key typed in is nowhere in what the window shows.
  EXPECT_EQ(Status().find("not the key"), std::string::npos);
}

TEST_F(CloudRegistration, InvalidGatewayIdDoesNothing) {
  StartWithAccount();
  for (const std::string id : {"QEL00000000000001", "qel000000000000001", ""}) {
    Connect(id);
    ui().vStatus->SetCaption("unchanged");
    Click(ui().bCloud_RegisterGW);
    Click(ui().bCloud_DeleteGW);
    Click(ui().bCloud_GWInfo1);
    EXPECT_EQ(Status(), "unchanged") << id;
  }
  Control(wvDELETE, "/sim/journal");
  Click(ui().bCloud_GetGW1);
  window->lCloud_AccountIDDblClick();
  Settle();
  EXPECT_EQ(Control(wvGET, "/sim/journal"), "{\"data\":[]}");
}

TEST_F(CloudRegistration, SummaryShowsTheRawAnswer) {
  StartWithAccount();
  Connect();
  Click(ui().bCloud_RegisterGW);
  Click(ui().bCloud_Check);
  EXPECT_EQ(Status(), " {\"data\":{\"total\":1,\"online\":0,\"approved\":1,\"pending\":0}}");
}

TEST_F(CloudRegistration, FetchFillsBothGridsAndAMissingRecordEmptiesThem) {
  StartWithAccount();
  Connect();
  Click(ui().bCloud_RegisterGW);
  Click(ui().bCloud_GWInfo1);
  EXPECT_EQ(Grid(ui().sCloud_GWInfo), (Rows{{"bridgesHeard", "0"},
                                            {"firmware", "2.7.1"},
                                            {"hardware", "QGW-4 rev C"},
                                            {"modem", "LTE-M/NB-IoT"}}));
  // Desired values differing from the reported ones follow " => ".
  EXPECT_EQ(Grid(ui().sCloud_GWConfig), (Rows{{"apn", "internet"}, {"logInterval", "60 => 30"}, {"wifiSsid", ""}}));

  // The record, kept in the database as the cloud gave it.
  TSQLiteQuery query(window->DB());
  query.SQL = {"SELECT `status`, `online`, typeof(`JSON`) AS `form`, json(`JSON`) AS `record` FROM `gw`",
               "WHERE `gatewayId` = ?"};
  query.Prepare();
  query.BindParam(1, Variant(kGateway));
  ASSERT_TRUE(query.Open());
  EXPECT_EQ(query.FieldValue("status").ToString(), "approved");
  EXPECT_EQ(query.FieldValue("online").ToString(), "0");
  // Binary JSON where the library has it, else JSON text; the grids above are
  // the same either way (run with ORVANE_SQLITE_LIBRARY on SQLite 3.45 or later).
  EXPECT_EQ(query.FieldValue("form").ToString(), SQLiteHasJsonb() ? "blob" : "text") << SQLiteLibraryVersion();
  const TMyJSON record(query.FieldValue("record").ToString());
  EXPECT_EQ(record.Value("gatewayId").ToString(), kGateway);
  query.Close();

  // No answer at all is not an answer without "data": the rows stay.
  const Rows before = Grid(ui().sCloud_GWConfig);
  ASSERT_NE(Control(wvPUT, "/sim/fault?count=1", "drop"), "(failed)");
  Click(ui().bCloud_GWInfo1);
  EXPECT_EQ(Status(), " Record: network error: Transferred a partial file");
  EXPECT_EQ(Grid(ui().sCloud_GWConfig), before);

  // Gone from the cloud: the answer has no "data", the rows go.
  Click(ui().bCloud_DeleteGW);
  Click(ui().bCloud_GWInfo2);
  ExpectGridsEmpty();
  query.SQL = {"SELECT COUNT(*) AS `n` FROM `gw`"};
  query.Prepare();
  ASSERT_TRUE(query.Open());
  EXPECT_EQ(query.FieldValue("n").ToInt32(), 0);
}

TEST_F(CloudRegistration, ReadAsksTheGatewayAndDisplaysOnTheTimer) {
  StartWithAccount();
  Connect();
  Click(ui().bCloud_RegisterGW);
  ui().bCloud_GetGW2->click();
  EXPECT_TRUE(window->tAutoDisplayGWInfo.isActive());
  EXPECT_EQ(window->tAutoDisplayGWInfo.interval(), 1500);
  EXPECT_EQ(Grid(ui().sCloud_GWInfo), (Rows{{"", ""}}));
  // The display follows 1500 ms later, on the timer's own tick.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->tAutoDisplayGWInfo.isActive() && window->CloudIdle(); }, 10000));
  const Rows info = Grid(ui().sCloud_GWInfo);
  ASSERT_EQ(info.size(), 5u);
  EXPECT_EQ(info[3].first, "infoRequested");

  // The lamp's double click sends "!oscar"; the cloud notes it in the record.
  window->lCloud_AccountIDDblClick();
  Settle();
  Click(ui().bCloud_GWInfo1);
  ASSERT_EQ(Grid(ui().sCloud_GWInfo).size(), 6u);
  EXPECT_EQ(Grid(ui().sCloud_GWInfo)[4].first, "lastOscar");  // rows by name

  window->ResetGatewayState();
  ExpectGridsEmpty();
}

TEST_F(CloudRegistration, CustomGatewayIdIsTakenUpperCased) {
  MakeWindow();
  Connect();
  const struct {
    const char* entry;
    bool ok;
    const char* shown;
  } cases[] = {
      {"qel123456789012345", true, "QEL123456789012345"},
      {"QEL12345678901234X", true, "QEL123456789012345"},   // refused: unchanged
      {"QEL999999999999999", false, "QEL123456789012345"},  // cancelled
  };
  for (const auto& c : cases) {
    inputEntry = c.entry;
    inputAnswer = c.ok;
    emit ui().vGWID->doubleClicked();
    EXPECT_EQ(ui().vGWID->Caption(), c.shown) << c.entry;
  }
}

TEST_F(CloudRegistration, AutoRegisterIsSavedAndRestored) {
  StartWithAccount();
  EXPECT_FALSE(ui().cCloud_RegisterGW->isChecked());
  ui().cCloud_RegisterGW->click();
  EXPECT_EQ(TRegIniExtended().ReadInteger({}, kAutoRegisterValue, -1), 1);
  Connect();  // registers on the worker, then settles
  EXPECT_EQ(Status(), " Register: OK");

  window.reset();
  MakeWindow();
  EXPECT_TRUE(ui().cCloud_RegisterGW->isChecked());
  ui().cCloud_RegisterGW->click();
  EXPECT_EQ(TRegIniExtended().ReadInteger({}, kAutoRegisterValue, -1), 0);
}

#ifdef GATEWAY_SIM
TEST_F(CloudRegistration, AutoRegistrationAfterInfoFromTheGateway) {
  SimulatedGateway gateway({"--gateway-id", QString::fromStdString(kGateway)});
  ASSERT_TRUE(gateway.Started());
  TRegIniExtended().WriteInteger({}, kAutoRegisterValue, 1);
  StartWithAccount();
  ASSERT_TRUE(ui().cCloud_RegisterGW->isChecked());
  OpenCom1(*window);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == " Register: OK"; }, 10000)) << Status();
  EXPECT_EQ(ui().vGWID->Caption(), kGateway);
  Click(ui().bCloud_GWInfo1);
  EXPECT_EQ(Grid(ui().sCloud_GWInfo).size(), 4u);
  window->bCloseClick();
}

// A cloud that takes the connection and never answers: the window stays live, serves
// the gateway, ignores a repeated click, and the request ends later, told in red. Its
// outcome no longer belongs to the selected account, so only the status line changes.
TEST_F(CloudRegistration, HangingCloudLeavesTheWindowServingTheGateway) {
  SimulatedGateway gateway({"--gateway-id", QString::fromStdString(kGateway)});
  ASSERT_TRUE(gateway.Started());
  StoreAccount({"other", "Other", "other key", "aws-test-cloud", {}});
  StartWithAccount();
  OpenCom1(*window);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ui().vGWID->Caption() == kGateway && window->PendingCommands().empty(); },
                              15000));
  window->CloudClient()->DeadlineMs = 6000;
  Control(wvPUT, "/sim/fault?count=1", "hang");  // the token request hangs
  Control(wvDELETE, "/sim/journal");

  QElapsedTimer clock;
  clock.start();
  ui().bCloud_RegisterGW->click();
  EXPECT_LT(clock.elapsed(), 100);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == " Register: \u2026"; }, 2000)) << Status();
  ui().bCloud_RegisterGW->click();  // already running: ignored

  ui().eAPN->setText("hang.apn");
  ui().bWrite_APN->click();
  ui().eAPN->setText("");
  ui().bRead_APN->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ui().eAPN->text() == "hang.apn"; }, 4000));
  EXPECT_FALSE(window->CloudIdle());
  EXPECT_LT(clock.elapsed(), 5000);

  // Another account is picked while the request hangs.
  TIndexedCombo* list = ui().eCloud_AccountID;
  list->setCurrentIndex(list->IndexOfKey("other"));
  emit list->activated(list->currentIndex());
  ASSERT_EQ(ui().lCloud_AccountID->ColorOn(), clLime);

  Settle();
  EXPECT_GT(clock.elapsed(), 5500);
  EXPECT_EQ(Status(), " Register: network error: no complete answer within 6 s");
  EXPECT_EQ(Flash(), clRed);
  EXPECT_EQ(ui().lCloud_AccountID->ColorOn(), clLime);
  EXPECT_EQ(Control(wvGET, "/sim/journal").find("PUT"), std::string::npos);  // one token request, no register

  // Closing gives a hanging request up at once.
  Click(ui().bCloud_Check);  // the other account's token
  Control(wvPUT, "/sim/fault?count=1", "hang");
  ui().bCloud_RegisterGW->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == " Register: \u2026"; }, 2000)) << Status();
  clock.restart();
  window->bCloseClick();
  window.reset();
  EXPECT_LT(clock.elapsed(), 500);
}
#endif

}  // namespace
