#include "MonitorSchema.h"

#include "MySQLite.h"

namespace {

struct TServerRow {
  const char* name;
  const char* defaultHost;
};

constexpr TServerRow kServers[] = {
    {kServerProduction, "api.orvane.cloud"},
    {kServerTest, "api.test.orvane.cloud"},
    {kServerDevelopment, "api.dev.orvane.cloud"},
};

}  // namespace

std::string DefaultServerHost(const std::string& serverName) {
  for (const TServerRow& row : kServers)
    if (serverName == row.name) return row.defaultHost;
  return {};
}

void CreateSchema(TSQLiteDB& database, const TServerHostOverrides& hostOverrides) {
  database.Execute(
      "CREATE TABLE `brg` (`MAC` TEXT NOT NULL PRIMARY KEY, `APIVer` INT NOT NULL, "
      "`Version` TEXT DEFAULT NULL, `BoardType` INT DEFAULT NULL, `RSSI_RX` INT DEFAULT NULL, "
      "`RSSI_TX` INT DEFAULT NULL, `Received` TEXT NOT NULL)");
  database.Execute(
      "CREATE TABLE `gw` (`gatewayId` TEXT NOT NULL PRIMARY KEY, `status` TEXT DEFAULT NULL, "
      "`online` INT NOT NULL DEFAULT 0, `JSON` BLOB DEFAULT NULL, `Received` TEXT NOT NULL)");
  database.CreateIndex("gw", "`online`,`status`");
  database.Execute(
      "CREATE TABLE `gw_info` (`gatewayId` TEXT NOT NULL, `param` TEXT NOT NULL, "
      "`value` TEXT NOT NULL)");
  database.CreateIndex("gw_info", "`gatewayId`,`param`");
  database.Execute(
      "CREATE TABLE `gw_config` (`gatewayId` TEXT NOT NULL, `param` TEXT NOT NULL, "
      "`value` TEXT NOT NULL, `desiredValue` TEXT DEFAULT NULL)");
  database.CreateIndex("gw_config", "`gatewayId`,`param`");
  database.Execute(
      "CREATE TABLE `accounts` (`accountId` TEXT NOT NULL PRIMARY KEY, `title` TEXT NOT NULL, "
      "`server` TEXT NOT NULL, `key` TEXT NOT NULL)");
  database.CreateIndex("accounts", "`title`");
  database.Execute(
      "CREATE TABLE `servers` (`id` INTEGER NOT NULL PRIMARY KEY, `name` TEXT NOT NULL, "
      "`url` TEXT NOT NULL)");
  database.CreateIndex("servers", "`name`");
  // Hosts may come from the settings hive: bound, whatever their bytes, never spliced
  // into the statement.
  TSQLiteQuery insert(database);
  insert.SQL = {"INSERT INTO `servers` (`name`,`url`) VALUES (?,?)"};
  insert.Prepare();
  for (const TServerRow& row : kServers) {
    std::string host = row.defaultHost;
    if (const auto found = hostOverrides.find(row.name);
        found != hostOverrides.end() && !found->second.empty())
      host = found->second;
    insert.Reset();
    insert.BindParam(1, Variant(row.name));
    insert.BindParam(2, Variant(host));
    insert.ExecSQL();
  }
}

std::vector<std::string> GatewayRecordReplaceSQL() {
  // jsonb arrived in SQLite 3.45; older libraries (3.40 on Debian 12) keep the
  // record as minified JSON text. Nothing in the monitor reads the column back, and
  // both forms still reject a record that is not JSON.
  const char* values = SQLiteHasJsonb() ? "VALUES (?,?,?,jsonb(?),CURRENT_TIMESTAMP)"
                                        : "VALUES (?,?,?,json(?),CURRENT_TIMESTAMP)";
  return {"REPLACE INTO `gw` (`gatewayId`,`status`,`online`,`JSON`,`Received`)", values};
}
