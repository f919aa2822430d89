// The connected gateway in the cloud: registration by hand or after ":info",
// deletion, the account summary, the "!oscar" action, and the cloud record of
// the gateway (summary, information, configuration) stored in the `gw`,
// `gw_info` and `gw_config` tables and shown in the two grids.
//
// Every cloud request runs on the cloud worker, in the order asked; the window
// stays live meanwhile and the status line shows the running operation. Results
// go to the status line: a text and a red flash for failure, a lime flash for
// success. Cloud answers are shown as the cloud gave them; the account key and
// the token never appear.
#include <QTableWidget>

#include "FOvMonitor.h"
#include "cloud/CloudWorker.h"
#include "cloud/GatewayCloud.h"
#include "cloud/MyJSON.h"
#include "cloud/OrvaneApi.h"
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"
#include "support/MyFunctions.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

// The text form of a member of a JSON object text ("" when absent).
std::string MemberText(const std::string& json, const std::string& name) {
  return TMyJSON(json).Value(name).ToString();
}

// Inserts every member of a JSON object as (gatewayId, name, value); values
// keep their raw text except that strings lose their quotes and escapes.
void InsertMembers(TSQLiteQuery& query, const std::string& gatewayId, const TMyJSON& members) {
  for (int i = 0; i < members.Count(); ++i) {
    query.BindParam(1, Variant(gatewayId));
    query.BindParam(2, Variant(members.NameAt(i)));
    query.BindParam(3, Variant(JSONUnquote(members.RawValue(i))));
    query.ExecSQL();
  }
}

// Rows of (name, value) into a grid whose header is the "Name" / "Value"
// row; without rows the grid keeps one empty row.
void FillNameValueGrid(QTableWidget* grid, const std::vector<std::pair<std::string, std::string>>& rows) {
  grid->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
  grid->setRowCount(std::max<int>(1, static_cast<int>(rows.size())));
  if (rows.empty()) {
    grid->setItem(0, 0, new QTableWidgetItem());  // the grid owns its items
    grid->setItem(0, 1, new QTableWidgetItem());
    return;
  }
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    grid->setItem(row, 0, new QTableWidgetItem(ToQString(rows[row].first)));
    grid->setItem(row, 1, new QTableWidgetItem(ToQString(rows[row].second)));
  }
}

}  // namespace

void TFOvMonitor::RunCloud(const std::string& operation, const std::string& key, TCloudCall call, TCloudShow show) {
  // No account selected: not ready, said at once (nothing to wait for).
  if (!m_cloudClient) {
    show({}, true);
    return;
  }
  if (!m_cloudPending.insert(key).second) return;
  std::shared_ptr<TOrvaneAPI> client = m_cloudClient;
  m_cloudWorker->Post([this, operation] { ui->vStatus->SetCaption(" " + operation + ": \u2026"); },
                      // On the worker: only the client and the call are touched there.
                      [this, client, key, call = std::move(call), show = std::move(show)]() -> TCloudWorker::TOwnerStep {
                        TCloudOutcome outcome;
                        outcome.ready = client->IsReady();
                        if (outcome.ready) outcome.answer = call(*client);
                        outcome.invalid = client->Invalid();
                        outcome.networkError = client->LastErrorText();
                        return [this, client, key, outcome, show] {
                          m_cloudPending.erase(key);
                          show(outcome, client == m_cloudClient);
                        };
                      });
}

void TFOvMonitor::ShowCloudOutcome(const std::string& operation, const std::string& text, bool ok) {
  ui->vStatus->SetCaption(text);
  ui->vStatus->TriggerColor(ok ? clLime : clRed);
  emit CloudOperationDone(ToQString(operation), ok, ToQString(text));
}

void TFOvMonitor::MarkClientNotReady(bool current) {
  if (current) ui->lCloud_AccountID->SwitchOn(clRed);
}

bool TFOvMonitor::CheckCloudAnswer(const std::string& operation, const TCloudOutcome& outcome) {
  std::string text;
  bool success = false;
  if (!outcome.ready && outcome.invalid) {
    text = " Invalid API key";
  } else if (!outcome.networkError.empty()) {
    // The cloud never judged the request: the key stays good and the next try may pass.
    text = " " + operation + ": network error: " + outcome.networkError;
  } else if (!outcome.ready) {
    text = " API not configured";
  } else {
    const TMyJSON document(outcome.answer);
    const std::string answer = document.Value("data").ToString() + document.Value("message").ToString();
    text = " " + operation + ": " + answer;
    success = answer == "OK";
  }
  ShowCloudOutcome(operation, text, success);
  return success;
}

void TFOvMonitor::RegisterGW(const std::string& gatewayId) {
  if (!IsGatewayID(gatewayId)) return;
  RunCloud(
      "Register", "Register " + gatewayId,
      [gatewayId](TOrvaneAPI& client) { return client.RegisterGateway(gatewayId, true); },
      [this](const TCloudOutcome& outcome, bool current) {
        if (!outcome.ready) MarkClientNotReady(current);
        CheckCloudAnswer("Register", outcome);
      });
}

void TFOvMonitor::DeleteGW(const std::string& gatewayId) {
  if (!IsGatewayID(gatewayId)) return;
  RunCloud(
      "Delete", "Delete " + gatewayId, [gatewayId](TOrvaneAPI& client) { return client.DeleteGateway(gatewayId); },
      [this](const TCloudOutcome& outcome, bool current) {
        if (!outcome.ready) MarkClientNotReady(current);
        CheckCloudAnswer("Delete", outcome);
      });
}

void TFOvMonitor::ShowSummary() {
  const auto show = [this](const TCloudOutcome& outcome, bool current) {
    if (!outcome.networkError.empty()) {
      ShowCloudOutcome("Summary", " Summary: network error: " + outcome.networkError, false);
    } else if (outcome.ready) {
      ui->vStatus->SetCaption(" " + outcome.answer);
      emit CloudOperationDone(QStringLiteral("Summary"), true, ToQString(ui->vStatus->Caption()));
    } else {
      MarkClientNotReady(current);
      ui->vStatus->SetCaption("");
      emit CloudOperationDone(QStringLiteral("Summary"), false, QString());
    }
  };
  RunCloud("Summary", "Summary", [](TOrvaneAPI& client) { return client.GetGatewaySummary(); }, show);
}

void TFOvMonitor::FetchGatewayRecord(const std::string& gatewayId) {
  if (!IsGatewayID(gatewayId)) return;
  RunCloud(
      "Record", "Record " + gatewayId, [gatewayId](TOrvaneAPI& client) { return client.GetGateways(gatewayId); },
      [this, gatewayId](const TCloudOutcome& outcome, bool current) {
        if (!outcome.networkError.empty()) {
          // Nothing arrived: the stored record is kept, not taken for deleted.
          ShowCloudOutcome("Record", " Record: network error: " + outcome.networkError, false);
          if (!outcome.ready) MarkClientNotReady(current);
          return;
        }
        if (!outcome.ready || !current) {
          if (!outcome.ready) MarkClientNotReady(current);
          emit CloudOperationDone(QStringLiteral("Record"), false, ToQString(ui->vStatus->Caption()));
          return;
        }
        StoreGatewayRecord(gatewayId, outcome.answer);
      });
}

void TFOvMonitor::StoreGatewayRecord(const std::string& gatewayId, const std::string& answer) {
  const std::string data = MemberText(answer, "data");
  const TMyJSON record(data);
  TSQLiteQuery query(*Database);
  if (!data.empty()) {
    query.SQL = GatewayRecordReplaceSQL();
    query.Prepare();
    query.BindParam(1, Variant(record.Value("gatewayId").ToString()));
    query.BindParam(2, Variant(record.Value("status").ToString()));
    query.BindParam(3, Variant(record.Value("online").ToString()));
    query.BindParam(4, Variant(data));
  } else {
    query.SQL = {"DELETE FROM `gw`", "WHERE `gatewayId` = ?"};
    query.Prepare();
    query.BindParam(1, Variant(gatewayId));
  }
  query.ExecSQL();

  query.SQL = {"DELETE FROM `gw_info` WHERE `gatewayId` = ?"};
  query.Prepare();
  query.BindParam(1, Variant(gatewayId));
  query.ExecSQL();
  const TMyJSON info(record.Value("gatewayInfo").ToString());
  if (info.Count() > 0) {
    query.SQL = {"INSERT INTO `gw_info` (`gatewayId`,`param`,`value`) VALUES (?,?,?)"};
    query.Prepare();
    InsertMembers(query, gatewayId, info);
  }

  query.SQL = {"DELETE FROM `gw_config` WHERE `gatewayId` = ?"};
  query.Prepare();
  query.BindParam(1, Variant(gatewayId));
  query.ExecSQL();
  const TMyJSON reported(MemberText(record.Value("reportedConf").ToString(), "additional"));
  if (reported.Count() > 0) {
    query.SQL = {"INSERT INTO `gw_config` (`gatewayId`,`param`,`value`) VALUES (?,?,?)"};
    query.Prepare();
    InsertMembers(query, gatewayId, reported);
    const TMyJSON desired(MemberText(record.Value("desiredConf").ToString(), "additional"));
    if (desired.Count() > 0) {
      query.SQL = {"UPDATE `gw_config` SET `desiredValue` = ? WHERE `gatewayId` = ? AND `param` = ?"};
      query.Prepare();
      for (int i = 0; i < desired.Count(); ++i) {
        query.BindParam(1, Variant(JSONUnquote(desired.RawValue(i))));
        query.BindParam(2, Variant(gatewayId));
        query.BindParam(3, Variant(desired.NameAt(i)));
        query.ExecSQL();
      }
    }
  }
  RefreshCloudGrids(gatewayId);
  emit CloudOperationDone(QStringLiteral("Record"), !data.empty(), ToQString(ui->vStatus->Caption()));
}


void TFOvMonitor::RefreshCloudGrids(const std::string& gatewayId) {
  std::vector<std::pair<std::string, std::string>> rows;
  TSQLiteQuery query(*Database);
  query.SQL = {"SELECT * FROM `gw_info` WHERE `gatewayId` = ? ORDER BY `param`"};
  query.Prepare();
  query.BindParam(1, Variant(gatewayId));
  for (bool row = query.Open(); row; row = query.Next())
    rows.emplace_back(query.FieldValue("param").ToString(), query.FieldValue("value").ToString());
  FillNameValueGrid(ui->sCloud_GWInfo, rows);

  rows.clear();
  query.SQL = {"SELECT * FROM `gw_config` WHERE `gatewayId` = ? ORDER BY `param`"};
  query.Prepare();
  query.BindParam(1, Variant(gatewayId));
  for (bool row = query.Open(); row; row = query.Next())
    rows.emplace_back(query.FieldValue("param").ToString(),
                      ConfigValueText(query.FieldValue("value").ToString(),
                                      query.FieldValue("desiredValue").ToString()));
  FillNameValueGrid(ui->sCloud_GWConfig, rows);
}

void TFOvMonitor::CustomGatewayID() {
  std::string entry = ui->vGWID->Caption();
  if (!m_cloudDialogs.inputQuery("Custom Gateway", "Enter a gateway id", entry)) return;
  if (const std::optional<std::string> id = CustomGatewayIDFromEntry(entry)) ui->vGWID->SetCaption(*id);
}

void TFOvMonitor::bCloud_RegisterGWClick() { RegisterGW(ui->vGWID->Caption()); }

void TFOvMonitor::bCloud_DeleteGWClick() { DeleteGW(ui->vGWID->Caption()); }

void TFOvMonitor::bCloud_CheckClick() { ShowSummary(); }

void TFOvMonitor::bCloud_GetGW1Click() {
  // The cloud asks the gateway for its information; the answer comes into the
  // record a moment later, so the display follows on the timer (and, queued after
  // the request, never overtakes it).
  tAutoDisplayGWInfo.stop();
  tAutoDisplayGWInfo.start();
  SendGatewayAction(ui->vGWID->Caption(), "getGwInfo");
}

void TFOvMonitor::bCloud_GWInfo1Click() {
  tAutoDisplayGWInfo.stop();
  FetchGatewayRecord(ui->vGWID->Caption());
}

void TFOvMonitor::lCloud_AccountIDDblClick() { SendGatewayAction(ui->vGWID->Caption(), "!oscar"); }

void TFOvMonitor::SendGatewayAction(const std::string& gatewayId, const std::string& action) {
  if (!IsGatewayID(gatewayId)) return;
  // The answer itself is not used; only a failure to deliver the action is told.
  RunCloud(
      "Action", "Action " + action + " " + gatewayId,
      [gatewayId, action](TOrvaneAPI& client) { return client.GatewayAction(gatewayId, action); },
      [this](const TCloudOutcome& outcome, bool current) {
        if (!outcome.ready) MarkClientNotReady(current);
        if (!outcome.networkError.empty())
          ShowCloudOutcome("Action", " Action: network error: " + outcome.networkError, false);
        else
          emit CloudOperationDone(QStringLiteral("Action"), outcome.ready && !outcome.answer.empty(),
                                  ToQString(ui->vStatus->Caption()));
      });
}

void TFOvMonitor::cCloud_RegisterGWClick() {
  Settings->WriteInteger({}, kAutoRegisterValue, ui->cCloud_RegisterGW->isChecked() ? 1 : 0);
}

void TFOvMonitor::vGWIDDblClick() { CustomGatewayID(); }
