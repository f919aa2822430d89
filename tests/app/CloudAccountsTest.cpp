// The cloud accounts on the "Orvane cloud" tab. Every case reads the hive file
// back rather than trusting the window's own table.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAction>
#include <QLineEdit>
#include <QTest>

#include "CloudFixture.h"
#include "cloud/MyCrypt.h"
#include "widgets/LedPanel.h"

namespace {

using Listed = std::vector<std::pair<std::string, std::string>>;

const TOvAccount kZulu{"zulu-1", "Zulu works", "zulu key", "aws-test-cloud", {}};
const TOvAccount kAlpha{"alpha-2", "Alpha site", "alpha key", "aws-prod-cloud", {}};
const TOvAccount kMike{"mike-3", "Mike yard", "mike key", "aws-dev-cloud", {}};

struct CloudAccounts : CloudFixture {
  // A window started on these stored accounts with `selected` as the last selection.
  void StartWith(std::initializer_list<TOvAccount> accounts, const std::string& selected) {
    for (const TOvAccount& account : accounts) StoreAccount(account);
    TRegIniExtended().WriteString({}, kAccountIdValue, selected);
    MakeWindow();
  }
  // Fills the group as the user types and presses "Add / Update".
  void Add(const std::string& id, const std::string& title, const std::string& keyText, const std::string& server) {
    ui().eCloudAdd_Account->setText(QString::fromStdString(id));
    ui().eCloudAdd_Title->setText(QString::fromStdString(title));
    ui().eCloudAdd_Key->setText(QString::fromStdString(keyText));
    ui().cCloudAdd_Server->setCurrentIndex(ui().cCloudAdd_Server->findText(QString::fromStdString(server)));
    ui().bCloud_AddAccount->click();
  }
  // The user picks an account in the list.
  void Pick(const std::string& id) {
    TIndexedCombo* list = ui().eCloud_AccountID;
    list->setCurrentIndex(list->IndexOfKey(id));
    emit list->activated(list->currentIndex());
  }
  void ExpectShown(const TOvAccount& account) {
    EXPECT_EQ(ui().eCloud_AccountID->SelectedKey(), account.accountId);
    EXPECT_EQ(ui().eCloudAdd_Account->text().toStdString(), account.accountId);
    EXPECT_EQ(ui().eCloudAdd_Title->text().toStdString(), account.title);
    EXPECT_EQ(ui().cCloudAdd_Server->currentText().toStdString(), account.server);
    // A stored key is never put back on the screen.
    EXPECT_TRUE(ui().eCloudAdd_Key->text().isEmpty());
    EXPECT_EQ(ui().lCloud_AccountID->LedType(), ltOn);
    EXPECT_EQ(ui().lCloud_AccountID->ColorOn(), clLime);
    EXPECT_EQ(window->CurrentAccount().key, account.key);
    EXPECT_NE(window->CloudClient(), nullptr);
    EXPECT_EQ(TRegIniExtended().ReadString({}, kAccountIdValue, {}), account.accountId);
  }
  void ExpectNoAccount() {
    EXPECT_EQ(ui().lCloud_AccountID->LedType(), ltOn);
    EXPECT_EQ(ui().lCloud_AccountID->ColorOn(), clRed);
    EXPECT_TRUE(ui().eCloudAdd_Account->text().isEmpty());
    EXPECT_TRUE(ui().eCloudAdd_Title->text().isEmpty());
    EXPECT_EQ(ui().cCloudAdd_Server->currentIndex(), 0);
    EXPECT_EQ(window->CloudClient(), nullptr);
    EXPECT_EQ(window->CurrentAccount(), TOvAccount{});
  }
};

TEST_F(CloudAccounts, StartUpListsByNameSelectsTheLastAndSkipsAlteredValues) {
  std::string altered = SerializeAccount({"bad-4", "Bad", "k", "aws-prod-cloud", {}});
  altered[altered.size() - 20] = static_cast<char>(altered[altered.size() - 20] ^ 0x04);
  TRegIniExtended().WriteBinaryString(kAccountsSection, "bad-4", altered);
  // The ID comes from the record, not from the value's name.
  TRegIniExtended().WriteBinaryString(kAccountsSection, "renamed", SerializeAccount({"bee-5", "Bee", "k", "", {}}));
  StartWith({kZulu, kAlpha, kMike}, kMike.accountId);
  EXPECT_EQ(ListedAccounts(), (Listed{{"alpha-2", "Alpha site"},
                                      {"bee-5", "Bee"},
                                      {"mike-3", "Mike yard"},
                                      {"zulu-1", "Zulu works"}}));
  ExpectShown(kMike);
  EXPECT_EQ(window->CurrentAccount().url, "api.dev.orvane.cloud");
  // The altered value is left for the user to see, not deleted; nothing of an
  // account is in the file in clear.
  EXPECT_EQ(TRegIniExtended().ReadBinaryString(kAccountsSection, "bad-4", {}), altered);
  EXPECT_EQ(HiveText().find("Mike yard"), std::string::npos);
}

TEST_F(CloudAccounts, StartUpMigratesTheOlderSingleAccount) {
  TRegIniExtended settings;
  settings.WriteString({}, kAccountIdValue, "legacy-7");
  settings.WriteString({}, kLegacyAccountKeyValue, EncryptLegacyAccountKey("old key"));

  MakeWindow();
  TOvAccount stored;
  ASSERT_TRUE(StoredAccount("legacy-7", stored));
  EXPECT_EQ(stored, (TOvAccount{"legacy-7", "legacy-7", "old key", "aws-prod-cloud", {}}));
  EXPECT_FALSE(TRegIniExtended().ValueExists({}, kLegacyAccountKeyValue));
  ExpectShown(stored);
}

TEST_F(CloudAccounts, AddingSelectsTheNewAccountAndKeepsTheListByName) {
  StartWith({kMike}, kMike.accountId);

  // An empty name stores and shows the ID as the name.
  const std::string key("new\0key\xff", 8);
  // Blanks and line breaks around the Base64 text do not count.
  Add(" new-5 ", "", " " + Base64Encode(key) + "\r\n", "aws-test-cloud");
  EXPECT_TRUE(errors.empty());
  TOvAccount stored;
  ASSERT_TRUE(StoredAccount("new-5", stored));
  EXPECT_EQ(stored, (TOvAccount{"new-5", "new-5", key, "aws-test-cloud", {}}));
  ExpectShown(stored);
  EXPECT_EQ(ListedAccounts(), (Listed{{"mike-3", "Mike yard"}, {"new-5", "new-5"}}));

  // A refill keeps the selection wherever the new item lands.
  Pick("mike-3");
  window->FillAccountList();
  EXPECT_EQ(ui().eCloud_AccountID->SelectedKey(), "mike-3");
}

TEST_F(CloudAccounts, UpdatingWithAnEmptyKeyKeepsTheStoredKey) {
  StartWith({kAlpha}, kAlpha.accountId);
  const std::string before = TRegIniExtended().ReadBinaryString(kAccountsSection, kAlpha.accountId, {});

  Add(kAlpha.accountId, "Alpha renamed", "", "aws-dev-cloud");
  EXPECT_TRUE(errors.empty());
  TOvAccount stored;
  ASSERT_TRUE(StoredAccount(kAlpha.accountId, stored));
  EXPECT_EQ(stored, (TOvAccount{"alpha-2", "Alpha renamed", "alpha key", "aws-dev-cloud", {}}));
  EXPECT_NE(TRegIniExtended().ReadBinaryString(kAccountsSection, kAlpha.accountId, {}), before);
  ExpectShown(stored);
  EXPECT_EQ(ListedAccounts(), (Listed{{"alpha-2", "Alpha renamed"}}));
}

TEST_F(CloudAccounts, MissingIdOrKeyOrAKeyThatIsNotBase64IsReportedAndNothingStored) {
  StartWith({kAlpha}, kAlpha.accountId);
  const std::string hiveBefore = HiveText();

  Add("  ", "Nameless", Base64Encode("k"), "aws-prod-cloud");
  EXPECT_EQ(window->focusWidget(), ui().eCloudAdd_Account);
  Add("other-9", "Other", "", "aws-prod-cloud");
  Add("other-9", "Other", "not base64!", "aws-prod-cloud");
  // Regression: an update of the selected account kept the old key without a word.
  Add(kAlpha.accountId, "Alpha", "not base64!", "aws-prod-cloud");
  EXPECT_EQ(errors, (std::vector<std::string>{"Orvane account id is needed", "Account key is needed",
                                              "The account key is not valid Base64",
                                              "The account key is not valid Base64"}));
  EXPECT_EQ(window->focusWidget(), ui().eCloudAdd_Key);
  EXPECT_EQ(HiveText(), hiveBefore);
  EXPECT_EQ(ListedAccounts().size(), 1u);

  // What is typed into the key field is hidden until the eye at its end is ticked.
  QLineEdit* keyField = ui().eCloudAdd_Key;
  EXPECT_EQ(keyField->echoMode(), QLineEdit::Password);
  auto* reveal = keyField->findChild<QAction*>(QStringLiteral("aCloudAdd_ShowKey"));
  ASSERT_NE(reveal, nullptr);
  reveal->trigger();
  EXPECT_EQ(keyField->echoMode(), QLineEdit::Normal);
  reveal->trigger();
  EXPECT_EQ(keyField->echoMode(), QLineEdit::Password);
}

// The settings name values without regard to letter case: "ABC" beside "abc"
// once overwrote abc's stored value while both stayed listed.
TEST_F(CloudAccounts, AnIdThatDiffersOnlyInLetterCaseUpdatesThatAccount) {
  StartWith({kAlpha, kMike}, kMike.accountId);
  // The selected account in capitals, key field empty: its key stays.
  Add("MIKE-3", "Mike renamed", "", "aws-dev-cloud");
  // Another listed account in capitals, with a new key.
  Add("Alpha-2", "Alpha renamed", Base64Encode("new alpha key"), "aws-prod-cloud");
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(ui().vStatus->Caption(), " Account alpha-2 updated (account IDs ignore letter case)");
  EXPECT_EQ(ListedAccounts(), (Listed{{"alpha-2", "Alpha renamed"}, {"mike-3", "Mike renamed"}}));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"alpha-2", "mike-3"}));
  TOvAccount mike, alpha;
  ASSERT_TRUE(StoredAccount("mike-3", mike));
  ASSERT_TRUE(StoredAccount("alpha-2", alpha));
  EXPECT_EQ(mike, (TOvAccount{"mike-3", "Mike renamed", "mike key", "aws-dev-cloud", {}}));
  EXPECT_EQ(alpha, (TOvAccount{"alpha-2", "Alpha renamed", "new alpha key", "aws-prod-cloud", {}}));
  ExpectShown(alpha);
}

// A record is removed by its ID wherever it is stored; values that do not
// decode are nobody's and stay.
TEST_F(CloudAccounts, RemovingDeletesTheRecordWhateverItsValueIsNamed) {
  TRegIniExtended().WriteBinaryString(kAccountsSection, "renamed", SerializeAccount({"bee-5", "Bee", "k", "aws-prod-cloud", {}}));
  TRegIniExtended().WriteBinaryString(kAccountsSection, "bee-5", "not a record");
  StartWith({kAlpha}, "bee-5");
  ASSERT_EQ(ui().eCloud_AccountID->SelectedKey(), "bee-5");
  ui().bCloud_RemoveAccount->click();
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"bee-5", "alpha-2"}));
  EXPECT_EQ(TRegIniExtended().ReadBinaryString(kAccountsSection, "bee-5", {}), "not a record");
  MakeWindow();
  EXPECT_EQ(ListedAccounts(), (Listed{{"alpha-2", "Alpha site"}}));
}

TEST_F(CloudAccounts, RemovingSelectsTheFirstByNameAndTheLastLeavesNone) {
  StartWith({kZulu, kAlpha, kMike}, kMike.accountId);

  confirmAnswer = false;
  ui().bCloud_RemoveAccount->click();
  EXPECT_EQ(StoredNames().size(), 3u);
  EXPECT_EQ(confirmations, (std::vector<std::string>{"Are you sure you want to remove this Orvane account?"}));

  confirmAnswer = true;
  ui().bCloud_RemoveAccount->click();
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"zulu-1", "alpha-2"}));
  ExpectShown(kAlpha);

  ui().bCloud_RemoveAccount->click();
  ui().bCloud_RemoveAccount->click();
  EXPECT_TRUE(StoredNames().empty());
  EXPECT_EQ(ui().eCloud_AccountID->count(), 0);
  EXPECT_EQ(ui().eCloud_AccountID->SelectedKey(), "");
  ExpectNoAccount();
}

TEST_F(CloudAccounts, AnAccountWithoutAKnownServerIsListedButRed) {
  StartWith({{"orphan-6", "Orphan", "key", "", {}}, {"gone-8", "Gone", "key", "aws-retired-cloud", {}}}, "orphan-6");
  EXPECT_EQ(ListedAccounts(), (Listed{{"gone-8", "Gone"}, {"orphan-6", "Orphan"}}));
  EXPECT_EQ(ui().eCloud_AccountID->SelectedKey(), "orphan-6");
  ExpectNoAccount();
  Pick("gone-8");
  ExpectNoAccount();
  // The last good selection is what the next start selects.
  EXPECT_EQ(TRegIniExtended().ReadString({}, kAccountIdValue, {}), "orphan-6");
}

TEST_F(CloudAccounts, NoKeyInClearInTheHiveAndTheFileStaysPrivate) {
  MakeWindow();
  const std::string key = "SECRET-KEY-BYTES";
  Add("acct-1", "Account", Base64Encode(key), "aws-prod-cloud");
  const std::string text = HiveText();
  EXPECT_EQ(text.find(key), std::string::npos);
  EXPECT_EQ(text.find(Base64Encode(key)), std::string::npos);
  struct stat info{};
  ASSERT_EQ(stat(TRegIniExtended().FileName().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);
}

}  // namespace
