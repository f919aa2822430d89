// orvane-account: adds or updates a cloud account in the settings hive (the
// user's, or the one ORVANE_SETTINGS_DIR names) the way the monitor stores it,
// so that a prepared machine or the demo starts with a working account.
//
//   orvane-account --add-account ID [--title NAME] [--server NAME] [--select] < key.b64
//
// The account key is read as Base64 text from standard input, never from the
// command line, where other users could see it in the process list.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "cloud/MyCrypt.h"
#include "cloud/OvAccounts.h"
#include "db/MonitorSchema.h"
#include "support/MyRegIniExtended.h"

namespace {

const char* const kUsage =
    "Usage: orvane-account --add-account ID [--title NAME] [--server NAME] [--select] < KEYFILE\n"
    "\n"
    "Stores the cloud account ID, encrypted, in the monitor's settings (ORVANE_SETTINGS_DIR\n"
    "names another settings folder). The account key is read as Base64 text from standard\n"
    "input. The name defaults to the ID, the server to aws-prod-cloud. With --select the\n"
    "monitor selects this account at its next start.\n";

int Fail(const std::string& message) {
  std::cerr << "orvane-account: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  TOvAccount account;
  account.server = kServerProduction;
  bool select = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (option == "--select") {
      select = true;
      continue;
    }
    if (i + 1 >= argc) return Fail(option + " needs a value (see --help)");
    const std::string value = argv[++i];
    if (option == "--add-account")
      account.accountId = value;
    else if (option == "--title")
      account.title = value;
    else if (option == "--server")
      account.server = value;
    else
      return Fail("unknown option " + option + " (see --help)");
  }
  if (account.accountId.empty()) return Fail("--add-account ID is needed (see --help)");
  if (DefaultServerHost(account.server).empty())
    return Fail("unknown server " + account.server + " (aws-prod-cloud, aws-test-cloud or aws-dev-cloud)");

  const std::string keyText((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  account.key = Base64Decode(keyText);
  if (account.key.empty()) return Fail("standard input holds no Base64 account key");
  // As the monitor's "Add / Update": an account without a name shows its ID.
  if (account.title.empty()) account.title = account.accountId;

  try {
    TRegIniExtended settings;
    WriteStoredAccount(settings, account);
    if (select) settings.WriteString({}, kAccountIdValue, account.accountId);
    std::cout << "account " << account.accountId << " stored in " << settings.FileName() << "\n";
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
  return 0;
}
