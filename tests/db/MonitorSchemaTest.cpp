#include "db/MonitorSchema.h"
#include "db/MySQLite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Column(TSQLiteDB& db, const std::vector<std::string>& sql,
                                const std::string& name) {
  TSQLiteQuery query(db);
  query.SQL = sql;
  std::vector<std::string> values;
  for (query.Open(); !query.Eof(); query.Next()) values.push_back(query.FieldValue(name).ToString());
  return values;
}

TEST(MonitorSchema, CreatesTheTablesIndexesAndServerRows) {
  TSQLiteDB db("");
  std::vector<std::string> log;
  db.OnLog = [&log](TSQLiteDB&, const std::string& text) { log.push_back(text); };
  CreateSchema(db);
  for (const std::string& line : log) EXPECT_EQ(line.find("Result: ") == 0, line == "Result: 0") << line;

  EXPECT_EQ(Column(db, {"SELECT `name` FROM `sqlite_master` WHERE `type` = 'table' ORDER BY `rowid`"}, "name"),
            (std::vector<std::string>{"brg", "gw", "gw_info", "gw_config", "accounts", "servers"}));
  EXPECT_EQ(Column(db, {"SELECT `tbl_name` || ':' || substr(`sql`, instr(`sql`, '(')) AS `ix`",
                        "FROM `sqlite_master` WHERE `type` = 'index' AND `sql` IS NOT NULL",
                        "ORDER BY `rowid`"},
                   "ix"),
            (std::vector<std::string>{"gw:(`online`,`status`)", "gw_info:(`gatewayId`,`param`)",
                                      "gw_config:(`gatewayId`,`param`)", "accounts:(`title`)",
                                      "servers:(`name`)"}));
  EXPECT_EQ(Column(db, {"SELECT `id` || ' ' || `name` || ' ' || `url` AS `row`", "FROM `servers` ORDER BY `id`"},
                   "row"),
            (std::vector<std::string>{"1 aws-prod-cloud " + DefaultServerHost("aws-prod-cloud"),
                                      "2 aws-test-cloud " + DefaultServerHost("aws-test-cloud"),
                                      "3 aws-dev-cloud " + DefaultServerHost("aws-dev-cloud")}));
  EXPECT_FALSE(DefaultServerHost("aws-prod-cloud").empty());
  EXPECT_EQ(DefaultServerHost("elsewhere"), "");
}

TEST(MonitorSchema, HostOverridesReplaceOnlyTheNamedRows) {
  TSQLiteDB db("");
  CreateSchema(db, {{"aws-test-cloud", "127.0.0.1:8443"},
                    {"aws-dev-cloud", ""},  // empty keeps the built-in host
                    {"aws-prod-cloud", "o'brien.example"}});
  EXPECT_EQ(Column(db, {"SELECT `url` FROM `servers` ORDER BY `id`"}, "url"),
            (std::vector<std::string>{"o'brien.example", "127.0.0.1:8443", DefaultServerHost("aws-dev-cloud")}));

  // Whatever bytes the settings hold stay data, zero bytes and quotes included.
  const std::string hostile[] = {std::string("x')\0; DROP TABLE `accounts`; --", 31), "\\'\n\x01',''"};
  TSQLiteDB other("");
  CreateSchema(other, {{"aws-prod-cloud", hostile[0]}, {"aws-dev-cloud", hostile[1]}});
  EXPECT_EQ(Column(other, {"SELECT `url` FROM `servers` ORDER BY `id`"}, "url"),
            (std::vector<std::string>{hostile[0], DefaultServerHost("aws-test-cloud"), hostile[1]}));
  EXPECT_EQ(Column(other, {"SELECT count(*) AS `n` FROM `accounts`"}, "n"), std::vector<std::string>{"0"});
}

TEST(MonitorSchema, TablesTakeRowsAsTheMonitorWritesThem) {
  TSQLiteDB db("");
  CreateSchema(db);
  // Bridges are keyed by MAC; the optional columns default to NULL.
  EXPECT_TRUE(db.Execute("INSERT INTO `brg` (`MAC`,`APIVer`,`Received`) VALUES ('AABBCCDDEEFF',1,CURRENT_TIMESTAMP)"));
  EXPECT_FALSE(db.Execute("INSERT INTO `brg` (`MAC`,`APIVer`,`Received`) VALUES ('AABBCCDDEEFF',2,CURRENT_TIMESTAMP)"));
  EXPECT_EQ(Column(db, {"SELECT typeof(`Version`) AS `t` FROM `brg`"}, "t"), std::vector<std::string>{"null"});
  // Information and configuration rows are not unique per gateway and parameter.
  EXPECT_TRUE(db.Execute("INSERT INTO `gw_info` VALUES ('G','p','1'),('G','p','2')"));
  EXPECT_TRUE(db.Execute("INSERT INTO `gw_config` (`gatewayId`,`param`,`value`) VALUES ('G','p','1'),('G','p','1')"));
  EXPECT_EQ(Column(db, {"SELECT count(*) AS `n` FROM `gw_config` WHERE `desiredValue` IS NULL"}, "n"),
            std::vector<std::string>{"2"});
  EXPECT_TRUE(db.Execute("INSERT INTO `gw` (`gatewayId`,`Received`) VALUES ('G',CURRENT_TIMESTAMP)"));
  EXPECT_EQ(Column(db, {"SELECT `online` FROM `gw`"}, "online"), std::vector<std::string>{"0"});
}

TEST(MonitorSchema, GatewayRecordIsStoredWithOrWithoutJsonb) {
  TSQLiteDB db("");
  CreateSchema(db);
  // The capability matches the library's version: jsonb came with 3.45.0.
  int major = 0, minor = 0;
  ASSERT_EQ(std::sscanf(SQLiteLibraryVersion().c_str(), "%d.%d", &major, &minor), 2);
  EXPECT_EQ(SQLiteHasJsonb(), major > 3 || (major == 3 && minor >= 45));

  const std::vector<std::string> sql = GatewayRecordReplaceSQL();
  ASSERT_EQ(sql.size(), 2u);
  EXPECT_EQ(sql[0], "REPLACE INTO `gw` (`gatewayId`,`status`,`online`,`JSON`,`Received`)");
  EXPECT_EQ(sql[1], SQLiteHasJsonb() ? "VALUES (?,?,?,jsonb(?),CURRENT_TIMESTAMP)"
                                     : "VALUES (?,?,?,json(?),CURRENT_TIMESTAMP)");

  TSQLiteQuery query(db);
  query.SQL = sql;
  ASSERT_TRUE(query.Prepare());
  const auto store = [&](const char* status, const std::string& record) {
    query.Reset();
    query.BindParam(1, Variant("QEL1"));
    query.BindParam(2, Variant(status));
    query.BindParam(3, Variant("1"));
    query.BindParam(4, Variant(record));
    return query.ExecSQL();
  };
  EXPECT_TRUE(store("new", R"({"gatewayId": "QEL1", "online": true})"));
  // A second record for the same gateway replaces the first.
  EXPECT_TRUE(store("active", R"({"gatewayId": "QEL1", "online": true, "status": "active"})"));
  // Text that is not JSON is refused in both forms and leaves the stored row alone.
  EXPECT_FALSE(store("broken", "{not json"));

  EXPECT_EQ(Column(db, {"SELECT `status` || ' ' || `online` || ' ' || typeof(`JSON`) || ' ' || json(`JSON`) AS `r`",
                        "FROM `gw`"},
                   "r"),
            std::vector<std::string>{std::string("active 1 ") + (SQLiteHasJsonb() ? "blob" : "text") +
                                     R"( {"gatewayId":"QEL1","online":true,"status":"active"})"});
}

}  // namespace
