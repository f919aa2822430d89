// The cloud accounts of the "Orvane cloud" tab: the account list, the
// selection that makes the cloud client, "Add / Update" and "Remove", and the
// start-up steps that rebuild the `accounts` table from the settings.
//
// The settings are the lasting store (one encrypted value per account, see
// cloud/OvAccounts.h); the in-memory table mirrors them for the list and the
// load query. A stored key is never put back into a control.
#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>

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

// An eye, struck through while the text is hidden: drawn here, since icon
// themes differ between desktops and may have none.
QIcon EyeIcon(bool struck) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(60, 60, 60), 1.4));
  QPainterPath lid;
  lid.moveTo(1.5, 8);
  lid.quadTo(8, 1, 14.5, 8);
  lid.quadTo(8, 15, 1.5, 8);
  painter.drawPath(lid);
  painter.setBrush(QColor(60, 60, 60));
  painter.drawEllipse(QPointF(8, 8), 2.2, 2.2);
  if (struck) painter.drawLine(QPointF(2.5, 13.5), QPointF(13.5, 2.5));
  return QIcon(pixmap);
}

// The key field hides what is typed; the eye at its end shows it while ticked.
void AddKeyRevealer(QLineEdit* keyEdit) {
  keyEdit->setEchoMode(QLineEdit::Password);
  QAction* reveal = keyEdit->addAction(EyeIcon(true), QLineEdit::TrailingPosition);
  reveal->setObjectName(QStringLiteral("aCloudAdd_ShowKey"));
  reveal->setCheckable(true);
  reveal->setToolTip(QStringLiteral("Show the key"));
  QObject::connect(reveal, &QAction::toggled, keyEdit, [keyEdit, reveal](bool shown) {
    keyEdit->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    reveal->setIcon(EyeIcon(!shown));
    reveal->setToolTip(shown ? QStringLiteral("Hide the key") : QStringLiteral("Show the key"));
  });
}

}  // namespace

void TFOvMonitor::StartUpCloudAccounts() {
  if (!m_cloudDialogs.showError) m_cloudDialogs = DefaultCloudDialogs(this);
  AddKeyRevealer(ui->eCloudAdd_Key);
  MigrateLegacyAccount();
  RebuildAccountsTable();
  const std::string lastAccount = Settings->ReadString({}, kAccountIdValue, {});
  FillAccountList();
  ui->eCloud_AccountID->SelectKey(lastAccount);
  eCloud_AccountIDChange();
}

void TFOvMonitor::MigrateLegacyAccount() {
  TakeLegacyAccount(*Settings, [this](TOvAccount legacy) { return SaveAccount(std::move(legacy)); });
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

bool TFOvMonitor::SaveAccount(TOvAccount account) {
  if (account.title.empty()) account.title = account.accountId;
  // Listed only when stored: an account that is gone at the next start must
  // not look saved now (the failed write is in the status line).
  if (!WriteStoredAccount(*Settings, account)) return false;
  TSQLiteQuery replace(*Database);
  replace.SQL = {"REPLACE INTO `accounts` (`accountId`,`title`,`server`,`key`)", "VALUES (?,?,?,?)"};
  replace.Prepare();
  replace.BindParam(1, Variant(account.accountId));
  replace.BindParam(2, Variant(account.title));
  replace.BindParam(3, Variant(account.server));
  replace.BindParam(4, Variant(account.key));
  replace.ExecSQL();
  FillAccountList();
  return true;
}

void TFOvMonitor::RemoveAccount(const std::string& accountId) {
  const std::string id = Trimmed(accountId);
  if (!DeleteStoredAccount(*Settings, id)) return;
  TSQLiteQuery remove(*Database);
  remove.SQL = {"DELETE FROM `accounts` WHERE `accountId` = ?"};
  remove.Prepare();
  remove.BindParam(1, Variant(id));
  remove.ExecSQL();
  FillAccountList();
}

std::string TFOvMonitor::ListedAccountId(const std::string& accountId) {
  // NOCASE folds ASCII letters only, as the settings' value names do.
  TSQLiteQuery query(*Database);
  query.SQL = {"SELECT `accountId`", "FROM `accounts`", "WHERE `accountId` = ? COLLATE NOCASE", "ORDER BY `accountId` = ? DESC"};
  query.Prepare();
  query.BindParam(1, Variant(accountId));
  query.BindParam(2, Variant(accountId));
  return query.Open() ? query.FieldValue("accountId").ToString() : std::string();
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
  const std::string keyText = TrimmedText(ui->eCloudAdd_Key);
  account.key = Base64Decode(keyText);
  account.server = FromQString(ui->cCloudAdd_Server->currentText());

  if (account.accountId.empty()) {
    ui->eCloudAdd_Account->setFocus();
    m_cloudDialogs.showError("Orvane account id is needed");
    return;
  }
  // Taken as no key, a mistyped key would keep the old one of an update
  // without a word.
  if (!keyText.empty() && account.key.empty()) {
    ui->eCloudAdd_Key->setFocus();
    m_cloudDialogs.showError("The account key is not valid Base64");
    return;
  }
  // The settings name accounts without regard to letter case: an ID that
  // differs from a listed one only in case is that account, under its
  // stored spelling.
  const std::string listed = ListedAccountId(account.accountId);
  const bool caseDiffers = !listed.empty() && listed != account.accountId;
  if (caseDiffers) account.accountId = listed;
  if (account.accountId == m_account.accountId) {
    // Updating the selected account: an empty key field keeps its key.
    if (account.key.empty()) account.key = m_account.key;
  } else if (account.key.empty()) {
    ui->eCloudAdd_Key->setFocus();
    m_cloudDialogs.showError("Account key is needed");
    return;
  }
  const std::string id = account.accountId;
  if (!SaveAccount(std::move(account))) return;
  ui->eCloud_AccountID->SelectKey(id);
  eCloud_AccountIDChange();
  if (caseDiffers) {
    ui->vStatus->SetCaption(" Account " + id + " updated (account IDs ignore letter case)");
    ui->vStatus->TriggerColor(clLime);
  }
}

void TFOvMonitor::bCloud_RemoveAccountClick() {
  if (!m_cloudDialogs.confirm("Are you sure you want to remove this Orvane account?")) return;
  RemoveAccount(ui->eCloud_AccountID->SelectedKey());
  eCloud_AccountIDChange();
}
