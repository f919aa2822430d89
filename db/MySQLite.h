// SQLite access layer: one connection (TSQLiteDB) and one prepared statement with its
// cursor (TSQLiteQuery).
//
// The SQLite library is bound at run time: the first TSQLiteDB loads it by name
// (default "libsqlite3.so.0", or the file named by the environment variable
// ORVANE_SQLITE_LIBRARY) and looks up its entry points once for the whole process;
// it is released when the process ends. A library that cannot be loaded, or that
// lacks one of the entry points, counts as absent: then every operation returns its
// "absent library" result (999 for SQLite codes, 0, false, empty text, null) and
// nothing calls into SQLite.
//
// No operation throws. Failures come back as results (false, an SQLite code) and
// their detail goes to LastError() and to the log (OnLog, and the debug log file).
//
// Text crosses the layer as byte strings, unchanged in both directions.
//
// Thread: a connection and its queries belong to one thread (the GUI thread in the
// monitor); the layer has no locking. Binding the library is safe from any thread.
#pragma once

#include "support/Variant.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// SQLite result codes the layer looks at, and the code it returns for an absent library.
inline constexpr int sqliteOK = 0;
inline constexpr int sqliteRow = 100;
inline constexpr int sqliteDone = 101;
inline constexpr int sqliteLibraryAbsent = 999;

// Flag of TSQLiteDB::Prepare: the statement will be kept and reused many times.
inline constexpr unsigned sqlitePreparePersistent = 1;

// Binds the library once per process; later calls return the first outcome.
// True when the library is loaded.
bool LoadSQLiteLibrary();
bool SQLiteLibraryLoaded();
// An exported symbol of the bound library; null when absent or not loaded.
void* SQLiteGetProc(const char* name);
// The version text the library reports ("3.40.1"); empty when not loaded.
std::string SQLiteLibraryVersion();
// Whether the library has the binary JSON function jsonb (SQLite 3.45 and later).
// Probed once per process on a private in-memory connection; false when not loaded.
bool SQLiteHasJsonb();

// Finalizes through the bound library; used by the statement handle below.
struct TSQLiteStatementDeleter {
  void operator()(sqlite3_stmt* statement) const noexcept;
};
using TSQLiteStatement = std::unique_ptr<sqlite3_stmt, TSQLiteStatementDeleter>;

class TSQLiteDB {
public:
  // Called with every log text before it goes to the debug log file.
  using TLogEvent = std::function<void(TSQLiteDB& sender, const std::string& text)>;

  // Opens fileName (passed to SQLite unchanged), or ":memory:" when it is empty. The
  // result of the open is not examined: a failed open leaves a handle on which every
  // statement fails.
  explicit TSQLiteDB(const std::string& fileName);
  // Commits a pending transaction, closes the debug log and the connection.
  ~TSQLiteDB();
  TSQLiteDB(const TSQLiteDB&) = delete;
  TSQLiteDB& operator=(const TSQLiteDB&) = delete;

  TLogEvent OnLog;
  // When set, the destructor (through Commit) runs "COMMIT" first.
  bool InTransaction = false;

  sqlite3* Handle() const { return m_handle.get(); }
  // The error text SQLite gave for the last Execute or Step; empty when it gave none.
  const std::string& LastError() const { return m_lastError; }

  // Runs SQL (possibly several statements) without results. True when SQLite gives 0.
  bool Execute(const std::string& sql);
  // "CREATE [UNIQUE ]INDEX IF NOT EXISTS `name` ON `table` (columns)[ WHERE where]".
  // An empty indexName gets a fresh random one, "K__<table>__" + 64 hex digits, so two
  // calls with the same table and columns make two indexes.
  bool CreateIndex(const std::string& table, const std::string& columns,
                   const std::string& indexName = {}, bool unique = false,
                   const std::string& where = {});
  // When InTransaction: clears it and runs "COMMIT".
  void Commit();

  // Compiles sql into statement (replacing what it held). flags: 0 or
  // sqlitePreparePersistent. True when SQLite gives 0; an SQL text without a statement
  // succeeds with an empty handle.
  bool Prepare(const std::string& sql, TSQLiteStatement& statement, unsigned flags);
  // True when sql compiles on this connection, for probing what the library offers.
  // Nothing is logged and LastError stays as it is.
  bool Compiles(const std::string& sql);

  // SQLite codes, or sqliteLibraryAbsent.
  int Step(sqlite3_stmt* statement);
  int ResetStatement(sqlite3_stmt* statement);

  // Column access on the current row; column numbers start at 0.
  int ColumnCount(sqlite3_stmt* statement);
  std::string ColumnName(sqlite3_stmt* statement, int column);
  // 1 integer, 2 float, 3 text, 4 blob, 5 null; 0 when absent.
  int ColumnType(sqlite3_stmt* statement, int column);
  // Up to the first zero byte.
  std::string ColumnText(sqlite3_stmt* statement, int column);
  // All bytes, zero bytes included.
  std::string ColumnBlob(sqlite3_stmt* statement, int column);
  double ColumnDouble(sqlite3_stmt* statement, int column);
  // Truncated to 32 bits.
  std::int32_t ColumnInt(sqlite3_stmt* statement, int column);
  // By storage class: integer as 32-bit integer, float as double, text and blob as
  // 8-bit string, anything else null.
  Variant ColumnValue(sqlite3_stmt* statement, int column);

  // Parameter numbers start at 1. Each is true only when SQLite gives 0; values are
  // copied by SQLite before the call returns.
  bool BindBlob(sqlite3_stmt* statement, int parameter, const std::string& bytes);
  bool BindText(sqlite3_stmt* statement, int parameter, const std::string& text);
  bool BindDouble(sqlite3_stmt* statement, int parameter, double value);
  bool BindInt(sqlite3_stmt* statement, int parameter, std::int32_t value);
  bool BindBoolean(sqlite3_stmt* statement, int parameter, bool value);
  bool BindNull(sqlite3_stmt* statement, int parameter);
  // By kind, first match wins: string (blob when it holds a zero byte, else text);
  // boolean (1/0); integer (truncated to 32 bits); single/double/currency (double);
  // date-time (text "YYYY-MM-DD HH:MM:SS"); anything else null.
  bool BindValue(sqlite3_stmt* statement, int parameter, const Variant& value);

  void Log(const std::string& text);
  // text, or text + "; " + error when error is not empty.
  void LogResult(const std::string& text, const std::string& error);

  bool DebugLog() const;
  // Turning it on opens the existing file ExpandEnvironment("%TEMP%") +
  // "/sqlite.debug.log" for writing from its start (not created, not truncated, other
  // writers locked out). False when that fails; the switch then stays off.
  bool SetDebugLog(bool on);

private:
  struct THandleCloser {
    void operator()(sqlite3* handle) const noexcept;
  };
  struct TLogFile;

  std::unique_ptr<sqlite3, THandleCloser> m_handle;
  std::string m_lastError;
  std::unique_ptr<TLogFile> m_logFile;
};

class TSQLiteQuery {
public:
  // The connection must outlive the query.
  explicit TSQLiteQuery(TSQLiteDB& database);
  ~TSQLiteQuery();
  TSQLiteQuery(const TSQLiteQuery&) = delete;
  TSQLiteQuery& operator=(const TSQLiteQuery&) = delete;

  TSQLiteDB& DB() const { return m_database; }
  // The statement's lines; Prepare joins them, each followed by CR LF.
  std::vector<std::string> SQL;

  sqlite3_stmt* Statement() const { return m_statement.get(); }
  // A cursor is open (Open succeeded or stepped to the end).
  bool Active() const { return m_active; }
  // No current row.
  bool Eof() const { return m_eof; }
  // Result column names, upper-cased, in column order.
  const std::vector<std::string>& Columns() const { return m_columns; }

  // Closes, then compiles SQL; on success loads the column names.
  bool Prepare(bool persistent = false);
  void LoadColumns();
  // Prepares when needed and steps to the first row. True when there is a row; true
  // at once, without stepping, when already active.
  bool Open();
  // Steps to the next row; false at the end or when not active.
  bool Next();
  // Finalizes the statement; the query is then empty again (SQL kept).
  void Close();
  // Parameter numbers 1 to 255.
  bool BindParam(int parameter, const Variant& value);
  // Position of name among Columns ignoring ASCII case; -1 when absent.
  int ColumnIndex(const std::string& name) const;
  // The column's value on the current row; null for an unknown name.
  Variant FieldValue(const std::string& name);
  // Back to before the first row; bound values stay bound. False without a statement.
  bool Reset();
  // Prepares when needed, runs the statement to its end and resets it. True when it
  // finished (SQLite done); false when active or when preparing fails.
  bool ExecSQL();

private:
  TSQLiteDB& m_database;
  TSQLiteStatement m_statement;
  bool m_active = false;
  bool m_eof = true;
  std::vector<std::string> m_columns;
};
