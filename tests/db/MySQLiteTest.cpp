#include "db/MySQLite.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

class SQLiteTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SQLiteLibraryLoaded() || LoadSQLiteLibrary());
    db.OnLog = [this](TSQLiteDB&, const std::string& text) { log.push_back(text); };
  }

  // The single value of a one-row, one-column query.
  Variant Scalar(const std::string& sql) {
    TSQLiteQuery query(db);
    query.SQL = {sql};
    if (!query.Open()) return Variant::Empty();
    return db.ColumnValue(query.Statement(), 0);
  }

  TSQLiteDB db{""};
  std::vector<std::string> log;
};

TEST_F(SQLiteTest, EmptyFileNameOpensAPrivateMemoryDatabase) {
  ASSERT_NE(db.Handle(), nullptr);
  ASSERT_TRUE(db.Execute("CREATE TABLE `t` (`a` INT)"));
  TSQLiteDB other("");
  // A second ":memory:" connection does not see the first one's tables.
  EXPECT_FALSE(other.Execute("SELECT * FROM `t`"));
  EXPECT_EQ(other.LastError(), "no such table: t");
}

TEST_F(SQLiteTest, FileNameIsPassedUnchanged) {
  char directory[] = "/tmp/dbcrypt-file-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/monitor.db";
  {
    TSQLiteDB file(path);
    ASSERT_TRUE(file.Execute("CREATE TABLE `t` (`a` INT); INSERT INTO `t` VALUES (7)"));
  }
  {
    TSQLiteDB file(path);
    TSQLiteQuery query(file);
    query.SQL = {"SELECT `a` FROM `t`"};
    ASSERT_TRUE(query.Open());
    EXPECT_EQ(query.FieldValue("a"), Variant(std::int32_t{7}));
  }
  std::remove(path.c_str());
  std::remove(directory);
}

TEST_F(SQLiteTest, ReadingLoopVisitsEveryRowAndMatchesNamesIgnoringCase) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `accounts` (`accountId` TEXT, `TITLE` TEXT);"
                         "INSERT INTO `accounts` VALUES ('a1','Beta'),('a2','Alpha')"));
  TSQLiteQuery query(db);
  query.SQL = {"SELECT *", "FROM `accounts`", "ORDER BY `title`"};
  std::vector<std::string> seen;
  for (query.Open(); !query.Eof(); query.Next())
    seen.push_back(query.FieldValue("ACCOUNTID").ToString() + "=" + query.FieldValue("title").ToString());
  EXPECT_EQ(seen, (std::vector<std::string>{"a2=Alpha", "a1=Beta"}));
  EXPECT_EQ(query.Columns(), (std::vector<std::string>{"ACCOUNTID", "TITLE"}));
  EXPECT_EQ(query.ColumnIndex("Title"), 1);
  EXPECT_EQ(query.ColumnIndex("missing"), -1);
  EXPECT_TRUE(query.FieldValue("missing").IsNull());
}

TEST_F(SQLiteTest, SelectWithoutRowsLeavesTheQueryAtEnd) {
  TSQLiteQuery query(db);
  query.SQL = {"SELECT 1 WHERE 0"};
  EXPECT_FALSE(query.Open());
  EXPECT_TRUE(query.Eof());
  EXPECT_FALSE(query.Next());
}

TEST_F(SQLiteTest, FailingPrepareInOpenGivesAnEmptyResult) {
  TSQLiteQuery query(db);
  query.SQL = {"SELECT * FROM `nowhere`"};
  EXPECT_FALSE(query.Open());
  EXPECT_TRUE(query.Eof());
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(query.Statement(), nullptr);
}

TEST_F(SQLiteTest, ColumnValuesByStorageClass) {
  TSQLiteQuery query(db);
  query.SQL = {"SELECT 4294967298 AS `big`, -2.5 AS `real`, 'text' AS `txt`, X'610062' AS `blob`,",
               "NULL AS `nothing`"};
  ASSERT_TRUE(query.Open());
  // Integers come back through the 32-bit reader: 2^32 + 2 becomes 2.
  EXPECT_EQ(query.FieldValue("big"), Variant(std::int32_t{2}));
  EXPECT_EQ(query.FieldValue("real"), Variant(-2.5));
  EXPECT_EQ(query.FieldValue("txt"), Variant(std::string("text")));
  EXPECT_EQ(query.FieldValue("blob"), Variant(std::string("a\0b", 3)));
  EXPECT_TRUE(query.FieldValue("nothing").IsNull());
  // Text stops at a zero byte; the blob reader keeps every byte.
  EXPECT_EQ(db.ColumnText(query.Statement(), 3), "a");
  EXPECT_EQ(db.ColumnBlob(query.Statement(), 3), std::string("a\0b", 3));
}

TEST_F(SQLiteTest, BindValueStoresEachKindAsItsStorageClass) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `v` (`n` INT, `x`)"));
  struct Row {
    const char* what;
    Variant value;
    const char* type;
    const char* text;
  };
  const std::vector<Row> rows = {
      {"plain string", Variant("abc"), "text", "abc"},
      {"empty string is empty text, not NULL", Variant(""), "text", ""},
      {"zero byte makes a blob", Variant(std::string("a\0b", 3)), "blob", "a"},
      {"wide string as UTF-8 text", Variant(u"\u00e9t\u00e9"), "text", "\xc3\xa9t\xc3\xa9"},
      {"true", Variant(true), "integer", "1"},
      {"false", Variant(false), "integer", "0"},
      {"64-bit integer truncated to 32 bits", Variant(std::int64_t{0x100000005}), "integer", "5"},
      {"unsigned 32-bit wraps negative", Variant(std::uint32_t{0xFFFFFFFF}), "integer", "-1"},
      {"unsigned 64-bit is no bindable kind", Variant(std::uint64_t{0x100000005}), "null", ""},
      {"double", Variant(1.25), "real", "1.25"},
      {"currency as its amount", Variant::FromCurrency(12.5), "real", "12.5"},
      {"date-time as text", Variant::FromDateTime(45722.375), "text", "2025-03-06 09:00:00"},
      {"null", Variant(), "null", ""},
      {"empty", Variant::Empty(), "null", ""},
  };
  TSQLiteQuery insert(db);
  insert.SQL = {"INSERT INTO `v` VALUES (?,?)"};
  ASSERT_TRUE(insert.Prepare());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].what);
    ASSERT_TRUE(insert.Reset());
    ASSERT_TRUE(insert.BindParam(1, Variant(static_cast<std::int32_t>(i))));
    EXPECT_TRUE(insert.BindParam(2, rows[i].value));
    ASSERT_TRUE(insert.ExecSQL());
  }
  TSQLiteQuery select(db);
  select.SQL = {"SELECT typeof(`x`) AS `type`, `x` FROM `v` ORDER BY `n`"};
  std::size_t i = 0;
  for (select.Open(); !select.Eof(); select.Next(), ++i) {
    ASSERT_LT(i, rows.size());
    SCOPED_TRACE(rows[i].what);
    EXPECT_EQ(select.FieldValue("type").ToString(), rows[i].type);
    EXPECT_EQ(db.ColumnText(select.Statement(), 1), rows[i].text);
  }
  EXPECT_EQ(i, rows.size());
}

TEST_F(SQLiteTest, OpenOnAnActiveQueryDoesNotStepAgain) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `t` (`a` INT); INSERT INTO `t` VALUES (1),(2)"));
  TSQLiteQuery query(db);
  query.SQL = {"SELECT `a` FROM `t` ORDER BY `a`"};
  ASSERT_TRUE(query.Open());
  EXPECT_TRUE(query.Open());
  EXPECT_EQ(query.FieldValue("a"), Variant(std::int32_t{1}));
  // An active cursor refuses ExecSQL.
  EXPECT_FALSE(query.ExecSQL());
  EXPECT_EQ(query.FieldValue("a"), Variant(std::int32_t{1}));
}

TEST_F(SQLiteTest, ExecSQLOnAnActiveQueryExecutesNothing) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `t` (`a` INT)"));
  TSQLiteQuery insert(db);
  insert.SQL = {"INSERT INTO `t` VALUES (1)"};
  // Open runs the insert once and leaves the query active at its end.
  EXPECT_FALSE(insert.Open());
  EXPECT_TRUE(insert.Active());
  EXPECT_FALSE(insert.ExecSQL());
  EXPECT_EQ(Scalar("SELECT count(*) FROM `t`"), Variant(std::int32_t{1}));
}

TEST_F(SQLiteTest, ExecSQLResetsForReuseAndKeepsBindings) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `t` (`a` INT, `b` TEXT)"));
  TSQLiteQuery insert(db);
  insert.SQL = {"INSERT INTO `t` (`a`,`b`)", "VALUES (?,?)"};
  ASSERT_TRUE(insert.Prepare());
  ASSERT_TRUE(insert.BindParam(1, Variant(std::int32_t{1})));
  ASSERT_TRUE(insert.BindParam(2, Variant("one")));
  EXPECT_TRUE(insert.ExecSQL());
  // No rebinding: the same values go in again.
  EXPECT_TRUE(insert.ExecSQL());
  // Reset keeps the second parameter while the first changes.
  ASSERT_TRUE(insert.Reset());
  ASSERT_TRUE(insert.BindParam(1, Variant(std::int32_t{3})));
  EXPECT_TRUE(insert.ExecSQL());
  EXPECT_EQ(Scalar("SELECT group_concat(`a` || `b`, ',') FROM `t`"), Variant("1one,1one,3one"));
  // A failing insert reports false and still leaves the statement reusable.
  ASSERT_TRUE(db.Execute("CREATE UNIQUE INDEX `u` ON `t` (`a`) WHERE `a` = 9"));
  ASSERT_TRUE(insert.BindParam(1, Variant(std::int32_t{9})));
  EXPECT_TRUE(insert.ExecSQL());
  EXPECT_FALSE(insert.ExecSQL());
  ASSERT_TRUE(insert.BindParam(1, Variant(std::int32_t{4})));
  EXPECT_TRUE(insert.ExecSQL());
  EXPECT_EQ(Scalar("SELECT count(*) FROM `t`"), Variant(std::int32_t{5}));
}

TEST_F(SQLiteTest, ExecuteReportsErrorsInLastErrorAndTheLog) {
  EXPECT_FALSE(db.Execute("SELEC 1"));
  EXPECT_EQ(db.LastError(), "near \"SELEC\": syntax error");
  EXPECT_EQ(log, (std::vector<std::string>{"Execute: \"SELEC 1\"",
                                           "Result: 1; near \"SELEC\": syntax error"}));
  log.clear();
  // Nothing of a text with a zero byte runs, not even the part before it.
  const char cut[] = "CREATE TABLE `cut` (`a`)\0; DROP TABLE `t`";
  EXPECT_FALSE(db.Execute(std::string(cut, sizeof cut - 1)));
  EXPECT_NE(db.LastError(), "");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "Result: 1; " + db.LastError());
  EXPECT_EQ(Scalar("SELECT count(*) FROM `sqlite_master` WHERE `name` = 'cut'"), Variant(std::int32_t{0}));
  log.clear();
  EXPECT_TRUE(db.Execute("SELECT 1"));
  EXPECT_EQ(db.LastError(), "");
  EXPECT_EQ(log, (std::vector<std::string>{"Execute: \"SELECT 1\"", "Result: 0"}));
}

TEST_F(SQLiteTest, QueryStepsAreLogged) {
  TSQLiteQuery query(db);
  query.SQL = {"SELECT 1 AS `a`", "UNION ALL SELECT 2"};
  ASSERT_TRUE(query.Open());
  while (query.Next()) {
  }
  ASSERT_TRUE(query.Reset());
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[0], "Preparing: \"SELECT 1 AS `a`\r\nUNION ALL SELECT 2\r\n\"");
  EXPECT_EQ(log[1], "Result: 0");
  EXPECT_EQ(log[2], "Columns: 1");
  // A row is not an error, but SQLite's message for it is still recorded.
  EXPECT_EQ(log[3].rfind("Step: 100", 0), 0u);
  EXPECT_EQ(log[4].rfind("Step: 100", 0), 0u);
  EXPECT_EQ(log[5], "Step: 101");
  EXPECT_EQ(log[6], "Reset statement: 0");
}

TEST_F(SQLiteTest, StepErrorIsRecorded) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `t` (`a` INT NOT NULL)"));
  TSQLiteQuery insert(db);
  insert.SQL = {"INSERT INTO `t` VALUES (?)"};
  ASSERT_TRUE(insert.Prepare());
  log.clear();
  EXPECT_FALSE(insert.ExecSQL());
  EXPECT_EQ(db.LastError(), "NOT NULL constraint failed: t.a");
  EXPECT_EQ(log.at(0), "Step: 19; NOT NULL constraint failed: t.a");
}

TEST_F(SQLiteTest, CreateIndexWithoutNameMakesANewIndexEachTime) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `gw` (`online` INT, `status` TEXT)"));
  EXPECT_TRUE(db.CreateIndex("gw", "online,status"));
  EXPECT_TRUE(db.CreateIndex("gw", "online,status"));
  TSQLiteQuery query(db);
  query.SQL = {"SELECT `name`, `sql` FROM `sqlite_master` WHERE `type` = 'index' ORDER BY `rowid`"};
  std::vector<std::string> names;
  const std::regex pattern("K__gw__[0-9a-f]{64}");
  for (query.Open(); !query.Eof(); query.Next()) {
    const std::string name = query.FieldValue("name").ToString();
    EXPECT_TRUE(std::regex_match(name, pattern)) << name;
    EXPECT_EQ(query.FieldValue("sql").ToString(),
              "CREATE INDEX `" + name + "` ON `gw` (online,status)");
    names.push_back(name);
  }
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(names[0], names[1]);
}

TEST_F(SQLiteTest, CreateIndexWithNameUniqueAndCondition) {
  ASSERT_TRUE(db.Execute("CREATE TABLE `t` (`a` INT)"));
  log.clear();
  EXPECT_TRUE(db.CreateIndex("t", "a", "ix", true, "a > 0"));
  EXPECT_EQ(log.at(0), "Execute: \"CREATE UNIQUE INDEX IF NOT EXISTS `ix` ON `t` (a) WHERE a > 0\"");
  // The same name again is accepted and changes nothing.
  EXPECT_TRUE(db.CreateIndex("t", "a", "ix", true, "a > 0"));
  EXPECT_FALSE(db.Execute("INSERT INTO `t` VALUES (1),(1)"));
  EXPECT_TRUE(db.Execute("INSERT INTO `t` VALUES (0),(0)"));
  EXPECT_FALSE(db.CreateIndex("missing", "a"));
}

TEST_F(SQLiteTest, CommitRunsOnlyInsideATransaction) {
  db.Commit();
  EXPECT_TRUE(log.empty());
  ASSERT_TRUE(db.Execute("BEGIN"));
  db.InTransaction = true;
  log.clear();
  db.Commit();
  EXPECT_FALSE(db.InTransaction);
  EXPECT_EQ(log, (std::vector<std::string>{"Execute: \"COMMIT\"", "Result: 0"}));
}

class DebugLogTest : public SQLiteTest {
protected:
  void SetUp() override {
    SQLiteTest::SetUp();
    ASSERT_NE(mkdtemp(directory), nullptr);
    const char* old = std::getenv("TEMP");
    if (old) savedTemp = old;
    hadTemp = old != nullptr;
    setenv("TEMP", directory, 1);
    path = std::string(directory) + "/sqlite.debug.log";
  }
  void TearDown() override {
    if (hadTemp)
      setenv("TEMP", savedTemp.c_str(), 1);
    else
      unsetenv("TEMP");
    std::remove(path.c_str());
    std::remove(directory);
  }
  std::string ReadLog() const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  char directory[32] = "/tmp/dbcrypt-log-XXXXXX";
  std::string path;
  std::string savedTemp;
  bool hadTemp = false;
};

TEST_F(DebugLogTest, MissingFileIsNotCreated) {
  EXPECT_FALSE(db.SetDebugLog(true));
  EXPECT_FALSE(db.DebugLog());
  EXPECT_FALSE(std::ifstream(path).good());
}

TEST_F(DebugLogTest, WritesStampedLinesFromTheStartOfTheFile) {
  std::ofstream(path) << std::string(200, '#');
  ASSERT_TRUE(db.SetDebugLog(true));
  EXPECT_TRUE(db.DebugLog());
  db.Execute("SELECT 1");
  EXPECT_TRUE(db.SetDebugLog(false));
  db.Execute("SELECT 2");  // no longer written

  const std::string text = ReadLog();
  const std::string stamp = R"(\[\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\] )";
  const std::regex lines(stamp + "Execute: \"SELECT 1\"\r\n" + stamp + "Result: 0\r\n(#+)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match, lines)) << text;
  // Not truncated: the old content beyond what was written is still there.
  EXPECT_EQ(text.size(), 200u);
  // OnLog still got everything.
  EXPECT_EQ(log.size(), 4u);
}

TEST_F(DebugLogTest, SecondWriterIsLockedOut) {
  std::ofstream(path) << "";
  ASSERT_TRUE(db.SetDebugLog(true));
  TSQLiteDB other("");
  EXPECT_FALSE(other.SetDebugLog(true));
  EXPECT_FALSE(other.DebugLog());
  db.SetDebugLog(false);
  EXPECT_TRUE(other.SetDebugLog(true));
}

}  // namespace
