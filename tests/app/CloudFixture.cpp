#include "CloudFixture.h"

#include <fstream>
#include <sstream>

#include "cloud/GatewayCloud.h"

namespace {

void ForgetCloudSettings() {
  TRegIniExtended settings;
  for (const std::string& name : settings.ReadSection(kAccountsSection)) settings.DeleteKey(kAccountsSection, name);
  for (const char* name : {kAccountIdValue, kLegacyAccountKeyValue, kAutoRegisterValue}) settings.DeleteKey({}, name);
}

}  // namespace

CloudFixture::CloudFixture() { ForgetCloudSettings(); }

CloudFixture::~CloudFixture() {
  window.reset();
  ForgetCloudSettings();
}

TFOvMonitor& CloudFixture::MakeWindow() {
  window = std::make_unique<TFOvMonitor>();
  TFOvMonitor::TCloudDialogs dialogs;
  dialogs.showError = [this](const std::string& text) { errors.push_back(text); };
  dialogs.confirm = [this](const std::string& text) {
    confirmations.push_back(text);
    return confirmAnswer;
  };
  dialogs.inputQuery = [this](const std::string&, const std::string&, std::string& value) {
    if (inputAnswer) value = inputEntry;
    return inputAnswer;
  };
  window->SetCloudDialogs(std::move(dialogs));
  return *window;
}

void CloudFixture::StoreAccount(const TOvAccount& account) {
  TRegIniExtended settings;
  WriteStoredAccount(settings, account);
}

bool CloudFixture::StoredAccount(const std::string& accountId, TOvAccount& account) {
  const TRegIniExtended settings;
  return settings.ValueExists(kAccountsSection, accountId) &&
         DeserializeAccount(settings.ReadBinaryString(kAccountsSection, accountId, {}), account);
}

std::vector<std::string> CloudFixture::StoredNames() { return TRegIniExtended().ReadSection(kAccountsSection); }

std::string CloudFixture::HiveText() {
  std::ifstream in(TRegIniExtended().FileName(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::pair<std::string, std::string>> CloudFixture::ListedAccounts() {
  std::vector<std::pair<std::string, std::string>> items;
  TIndexedCombo* list = ui().eCloud_AccountID;
  for (int i = 0; i < list->count(); ++i) items.emplace_back(list->KeyAt(i), list->itemText(i).toStdString());
  return items;
}
