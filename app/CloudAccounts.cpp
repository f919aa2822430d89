// The cloud accounts of the "Orvane cloud" tab: the account list, the
// selection that makes the cloud client, "Add / Update" and "Remove", and the
// start-up steps that rebuild the `accounts` table from the settings.
//
// The settings are the lasting store (one encrypted value per account, see
// cloud/OvAccounts.h); the in-memory table mirrors them for the list and the
// load query. A stored key is never put back into a control.
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

#include "FOvMonitor.h"
#include "cloud/CloudWorker.h"
#include "cloud/MyCrypt.h"
#include "cloud/OrvaneApi.h"
#include "db/MySQLite.h"
#include "support/MyFunctions.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

TFOvMonitor::TCloudDialogs DefaultCloudDialogs(QWidget* parent) {
  TFOvMonitor::TCloudDialogs dialogs;
  dialogs.showError = [parent](const std::string& text) {
    QMessageBox::critical(parent, QStringLiteral("Error"), ToQString(text), QMessageBox::Ok);
  };
  dialogs.confirm = [parent](const std::string& text) {
    return QMessageBox::question(parent, QStringLiteral("Confirm"), ToQString(text),
                                 QMessageBox::Yes | QMessageBox::Cancel) == QMessageBox::Yes;
  };
  dialogs.inputQuery = [parent](const std::string& title, const std::string& prompt, std::string& value) {
    bool ok = false;
    const QString entry = QInputDialog::getText(parent, ToQString(title), ToQString(prompt), QLineEdit::Normal,
                                                ToQString(value), &ok);
    if (ok) value = FromQString(entry);
    return ok;
  };
  return dialogs;
}

// Trimmed as the user's entries always were: blanks and control characters
// at both ends.
std::string Trimmed(const std::string& text) {
  static const std::string kBlankAndControls = [] {
    std::string set;
    for (int c = 0; c <= ' '; ++c) set.push_back(static_cast<char>(c));
    return set;
  }();
  return TrimCharSet(text, kBlankAndControls);
}

std::string TrimmedText(const QLineEdit* edit) { return Trimmed(FromQString(edit->text())); }

}  // namespace

void TFOvMonitor::StartUpCloudAccounts() {
  if (!m_cloudDialogs.showError) m_cloudDialogs = DefaultCloudDialogs(this);
  MigrateLegacyAccount();
  RebuildAccountsTable();
  const std::string lastAccount = Settings->ReadString({}, kAccountIdValue, {});
  FillAccountList();
  ui->eCloud_AccountID->SelectKey(lastAccount);
  eCloud_AccountIDChange();
}

void TFOvMonitor::MigrateLegacyAccount() {
  TakeLegacyAccount(*Settings, [this](TOvAccount legacy) { SaveAccount(std::move(legacy)); });
}

void TFOvMonitor::RebuildAccountsTable() {
  const std::vector<TOvAccount> accounts = ReadStoredAccounts(*Settings);
  Database->Execute("DELETE FROM `accounts`");
  TSQLiteQuery insert(*Database);
  insert.SQL = {"INSERT INTO `accounts` (`accountId`,`title`,`server`,`key`)", "VALUES (?,?,?,?)"};
  insert.Prepare();
  for (const TOvAccount& account : accounts) {
    insert.BindParam(1, Variant(account.accountId));
    insert.BindParam(2, Variant(account.title));
    insert.BindParam(3, Variant(account.server));
    insert.BindParam(4, Variant(account.key));
    insert.ExecSQL();
  }
}

void TFOvMonitor::SaveAccount(TOvAccount account) {
  if (account.title.empty()) account.title = account.accountId;
  WriteStoredAccount(*Settings, account);
  TSQLiteQuery replace(*Database);
  replace.SQL = {"REPLACE INTO `accounts` (`accountId`,`title`,`server`,`key`)", "VALUES (?,?,?,?)"};
  replace.Prepare();
  replace.BindParam(1, Variant(account.accountId));
  replace.BindParam(2, Variant(account.title));
  replace.BindParam(3, Variant(account.server));
  replace.BindParam(4, Variant(account.key));
  replace.ExecSQL();
  FillAccountList();
}

void TFOvMonitor::RemoveAccount(const std::string& accountId) {
  const std::string id = Trimmed(accountId);
  DeleteStoredAccount(*Settings, id);
  TSQLiteQuery remove(*Database);
  remove.SQL = {"DELETE FROM `accounts` WHERE `accountId` = ?"};
  remove.Prepare();
  remove.BindParam(1, Variant(id));
  remove.ExecSQL();
  FillAccountList();
}

void TFOvMonitor::FillAccountList() {
  TIndexedCombo* list = ui->eCloud_AccountID;
  const std::string selected = list->SelectedKey();
  list->Clear();
  TSQLiteQuery query(*Database);
  query.SQL = {"SELECT *", "FROM `accounts`", "ORDER BY `title`"};
  query.Prepare();
  for (bool row = query.Open(); row; row = query.Next())
    list->AddKeyedItem(query.FieldValue("accountId").ToString(), query.FieldValue("title").ToString());
  list->SelectKey(selected);
}

bool TFOvMonitor::LoadAccount(const std::string& accountId) {
  TSQLiteQuery query(*Database);
  query.SQL = {"SELECT `a`.*, `s`.`url`", "FROM `accounts` AS `a`",
               "JOIN `servers` AS `s` ON `s`.`name` = `a`.`server`", "WHERE `a`.`accountId` = ?"};
  query.Prepare();
  query.BindParam(1, Variant(accountId));
  // The old client goes first either way: its token belongs to another account.
  m_cloudClient.reset();
  if (!query.Open()) {
    m_account = {};
    return false;
  }
  m_account = {query.FieldValue("accountId").ToString(), query.FieldValue("title").ToString(),
               query.FieldValue("key").ToString(), query.FieldValue("server").ToString(),
               query.FieldValue("url").ToString()};
  m_cloudClient = std::make_shared<TOrvaneAPI>();
  m_cloudClient->AbortFlag = &m_cloudWorker->AbortFlag();
  m_cloudClient->OwnerID = m_account.accountId;
  m_cloudClient->SetKey(Base64Encode(m_account.key, true));
  m_cloudClient->SetServer(m_account.url);
  return true;
}

void TFOvMonitor::eCloud_AccountIDChange() {
  const std::string selected = ui->eCloud_AccountID->SelectedKey();
  if (LoadAccount(selected)) {
    Settings->WriteString({}, kAccountIdValue, selected);
    ui->eCloudAdd_Account->setText(ToQString(m_account.accountId));
    ui->cCloudAdd_Server->setCurrentIndex(
        ui->cCloudAdd_Server->findText(ToQString(m_account.server), Qt::MatchFixedString));
    ui->eCloudAdd_Title->setText(ToQString(m_account.title));
    ui->eCloudAdd_Key->clear();
    ui->lCloud_AccountID->SwitchOn(clLime);
  } else {
    ui->lCloud_AccountID->SwitchOn(clRed);
    ui->eCloudAdd_Account->clear();
    ui->eCloudAdd_Title->clear();
    ui->eCloudAdd_Key->clear();
    ui->cCloudAdd_Server->setCurrentIndex(ui->cCloudAdd_Server->count() > 0 ? 0 : -1);
  }
}

void TFOvMonitor::bCloud_AddAccountClick() {
  TOvAccount account;
  account.accountId = TrimmedText(ui->eCloudAdd_Account);
  account.title = TrimmedText(ui->eCloudAdd_Title);
  account.key = Base64Decode(TrimmedText(ui->eCloudAdd_Key));
  account.server = FromQString(ui->cCloudAdd_Server->currentText());

  if (account.accountId.empty()) {
    ui->eCloudAdd_Account->setFocus();
    m_cloudDialogs.showError("Orvane account id is needed");
    return;
  }
  if (account.accountId == m_account.accountId) {
    // Updating the selected account: an empty key field keeps its key.
    if (account.key.empty()) account.key = m_account.key;
  } else if (account.key.empty()) {
    ui->eCloudAdd_Key->setFocus();
    m_cloudDialogs.showError("Account key is needed");
    return;
  }
  const std::string id = account.accountId;
  SaveAccount(std::move(account));
  ui->eCloud_AccountID->SelectKey(id);
  eCloud_AccountIDChange();
}

void TFOvMonitor::bCloud_RemoveAccountClick() {
  if (!m_cloudDialogs.confirm("Are you sure you want to remove this Orvane account?")) return;
  RemoveAccount(ui->eCloud_AccountID->SelectedKey());
  eCloud_AccountIDChange();
}
