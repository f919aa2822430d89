// The layer with no usable SQLite library. Binding happens once per process, so this
// program points the library at a file that does not exist before anything binds.
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(AbsentLibrary, EveryOperationGivesItsAbsentResult) {
  TSQLiteDB db("");
  std::vector<std::string> log;
  db.OnLog = [&log](TSQLiteDB&, const std::string& text) { log.push_back(text); };
  EXPECT_FALSE(SQLiteLibraryLoaded());
  EXPECT_FALSE(LoadSQLiteLibrary());
  EXPECT_EQ(SQLiteGetProc("sqlite3_open"), nullptr);
  EXPECT_EQ(SQLiteLibraryVersion(), "");
  EXPECT_EQ(db.Handle(), nullptr);

  EXPECT_FALSE(db.Execute("SELECT 1"));
  EXPECT_EQ(log, (std::vector<std::string>{"Execute: \"SELECT 1\"", "Result: 999"}));
  EXPECT_FALSE(db.CreateIndex("t", "a"));
  TSQLiteStatement statement;
  EXPECT_FALSE(db.Prepare("SELECT 1", statement, 0));
  EXPECT_EQ(statement, nullptr);
  EXPECT_FALSE(db.Compiles("SELECT 1"));
  EXPECT_EQ(db.Step(nullptr), sqliteLibraryAbsent);
  EXPECT_EQ(db.ResetStatement(nullptr), sqliteLibraryAbsent);
  EXPECT_EQ(db.ColumnCount(nullptr), 0);
  EXPECT_EQ(db.ColumnName(nullptr, 0), "");
  EXPECT_EQ(db.ColumnType(nullptr, 0), 0);
  EXPECT_EQ(db.ColumnText(nullptr, 0), "");
  EXPECT_EQ(db.ColumnBlob(nullptr, 0), "");
  EXPECT_EQ(db.ColumnDouble(nullptr, 0), 0.0);
  EXPECT_EQ(db.ColumnInt(nullptr, 0), 0);
  EXPECT_TRUE(db.ColumnValue(nullptr, 0).IsNull());
  EXPECT_FALSE(db.BindText(nullptr, 1, "x"));
  EXPECT_FALSE(db.BindBlob(nullptr, 1, "x"));
  EXPECT_FALSE(db.BindInt(nullptr, 1, 1));
  EXPECT_FALSE(db.BindDouble(nullptr, 1, 1.0));
  EXPECT_FALSE(db.BindBoolean(nullptr, 1, true));
  EXPECT_FALSE(db.BindNull(nullptr, 1));
  EXPECT_FALSE(db.BindValue(nullptr, 1, Variant()));
  EXPECT_FALSE(SQLiteHasJsonb());
  // The fallback text is chosen; it can never run without a library anyway.
  EXPECT_EQ(GatewayRecordReplaceSQL().at(1), "VALUES (?,?,?,json(?),CURRENT_TIMESTAMP)");
}

TEST(AbsentLibrary, QueriesStayEmpty) {
  TSQLiteDB db("");
  CreateSchema(db);
  TSQLiteQuery query(db);
  query.SQL = {"SELECT * FROM `servers`"};
  EXPECT_FALSE(query.Open());
  EXPECT_TRUE(query.Eof());
  EXPECT_FALSE(query.Next());
  EXPECT_FALSE(query.ExecSQL());
  EXPECT_FALSE(query.Reset());
  EXPECT_FALSE(query.BindParam(1, Variant("x")));
  EXPECT_TRUE(query.FieldValue("name").IsNull());
  EXPECT_TRUE(query.Columns().empty());
  db.InTransaction = true;  // the destructor must not try to commit through nothing
}

}  // namespace

int main(int argc, char** argv) {
  // CTest also runs this program with the variable set to a library that loads but
  // exports none of SQLite's entry points, which must count as absent too.
  const char* chosen = std::getenv("ORVANE_SQLITE_LIBRARY");
  if (!chosen || !*chosen) setenv("ORVANE_SQLITE_LIBRARY", "/nonexistent/libsqlite3.so.0", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
