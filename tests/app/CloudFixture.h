#pragma once
// Windows whose cloud settings each test sets up itself: no stored accounts,
// no selection, no "Auto register", until the test writes them into the
// settings hive and makes the window.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FOvMonitor.h"
#include "cloud/OvAccounts.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"

struct CloudFixture : ::testing::Test {
  CloudFixture();
  ~CloudFixture() override;

  // The window as the program starts it on the present settings; the cloud
  // tab's dialogs answer from the fields below and are recorded.
  TFOvMonitor& MakeWindow();
  Ui::uOrvaneMonitor& ui() { return window->Form(); }

  // Straight into the hive, as an earlier run would have left it.
  static void StoreAccount(const TOvAccount& account);
  // The account as the hive file holds it now (read through a fresh store).
  static bool StoredAccount(const std::string& accountId, TOvAccount& account);
  static std::vector<std::string> StoredNames();
  static std::string HiveText();
  // The account list as shown: (key, caption) per item.
  std::vector<std::pair<std::string, std::string>> ListedAccounts();

  std::unique_ptr<TFOvMonitor> window;
  std::vector<std::string> errors;
  std::vector<std::string> confirmations;
  bool confirmAnswer = true;
  bool inputAnswer = true;
  std::string inputEntry;
};
