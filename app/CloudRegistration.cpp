// The connected gateway in the cloud: registration by hand or after ":info",
// deletion, the account summary, the "!oscar" action, and the cloud record of
// the gateway (summary, information, configuration) stored in the `gw`,
// `gw_info` and `gw_config` tables and shown in the two grids.
//
// Every cloud request is synchronous and made in the GUI thread. Results go
// to the status line: a text and a red flash for failure, a lime flash for
// success. Cloud answers are shown as the cloud gave them; the account key and
// the token never appear.
#include <QTableWidget>

#include "FOvMonitor.h"
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

bool TFOvMonitor::CloudClientReady() {
  if (m_cloudClient && m_cloudClient->IsReady()) return true;
  ui->lCloud_AccountID->SwitchOn(clRed);
  return false;
}

bool TFOvMonitor::CheckCloudAnswer(const std::string& operation, const std::string& answer) {
  TLedPanel* status = ui->vStatus;
  // A failed token renewal leaves the client invalid (and so not ready);
  // that is told apart from having no usable account at all.
  if (m_cloudClient && m_cloudClient->Invalid()) {
    status->SetCaption(" Invalid API key");
    status->TriggerColor(clRed);
    return false;
  }
  if (!m_cloudClient || !m_cloudClient->IsReady()) {
    status->SetCaption(" API not configured");
    status->TriggerColor(clRed);
    return false;
  }
  const TMyJSON document(answer);
  const std::string text = document.Value("data").ToString() + document.Value("message").ToString();
  status->SetCaption(" " + operation + ": " + text);
  const bool success = text == "OK";
  status->TriggerColor(success ? clLime : clRed);
  return success;
}

void TFOvMonitor::RegisterGW(const std::string& gatewayId) {
  if (!IsGatewayID(gatewayId)) return;
  std::string answer;
  if (CloudClientReady()) answer = m_cloudClient->RegisterGateway(gatewayId, true);
  const bool ok = CheckCloudAnswer("Register", answer);
  emit CloudOperationDone(QStringLiteral("Register"), ok, ToQString(ui->vStatus->Caption()));
}

void TFOvMonitor::DeleteGW(const std::string& gatewayId) {
  if (!IsGatewayID(gatewayId)) return;
  std::string answer;
  if (CloudClientReady()) answer = m_cloudClient->DeleteGateway(gatewayId);
  const bool ok = CheckCloudAnswer("Delete", answer);
  emit CloudOperationDone(QStringLiteral("Delete"), ok, ToQString(ui->vStatus->Caption()));
}

void TFOvMonitor::ShowSummary() {
  const bool ready = CloudClientReady();
  if (ready)
    ui->vStatus->SetCaption(" " + m_cloudClient->GetGatewaySummary());
  else
    ui->vStatus->SetCaption("");
  emit CloudOperationDone(QStringLiteral("Summary"), ready, ToQString(ui->vStatus->Caption()));
}

void TFOvMonitor::FetchGatewayRecord(const std::string& gatewayId) {
  if (!IsGatewayID(gatewayId)) return;
  if (!CloudClientReady()) {
    emit CloudOperationDone(QStringLiteral("Record"), false, QStringLiteral("no usable cloud account"));
    return;
  }
  const std::string answer = m_cloudClient->GetGateways(gatewayId);
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
  // The cloud's own message when it gave no record ("Gateway ... not found").
  emit CloudOperationDone(QStringLiteral("Record"), !data.empty(),
                          data.empty() ? ToQString(TextOrDefault(MemberText(answer, "message"), "no answer"))
                                       : QStringLiteral("record of %1").arg(ToQString(gatewayId)));
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
  // record a moment later, so the display follows on the timer.
  tAutoDisplayGWInfo.stop();
  tAutoDisplayGWInfo.start();
  const std::string gatewayId = ui->vGWID->Caption();
  if (IsGatewayID(gatewayId) && CloudClientReady()) m_cloudClient->RequestGatewayInfo(gatewayId);
}

void TFOvMonitor::bCloud_GWInfo1Click() {
  tAutoDisplayGWInfo.stop();
  FetchGatewayRecord(ui->vGWID->Caption());
}

void TFOvMonitor::lCloud_AccountIDDblClick() {
  const std::string gatewayId = ui->vGWID->Caption();
  if (!IsGatewayID(gatewayId)) return;
  const bool ready = CloudClientReady();
  if (ready) m_cloudClient->GatewayAction(gatewayId, "!oscar");
  emit CloudOperationDone(QStringLiteral("Action"), ready, ToQString(ui->vStatus->Caption()));
}

void TFOvMonitor::cCloud_RegisterGWClick() {
  Settings->WriteInteger({}, kAutoRegisterValue, ui->cCloud_RegisterGW->isChecked() ? 1 : 0);
}

void TFOvMonitor::vGWIDDblClick() { CustomGatewayID(); }
