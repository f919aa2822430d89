#include "MySQLite.h"

#include "support/MyConvert.h"
#include "support/MyFunctions.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>  // types and constants only: every call goes through the bound table
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

constexpr const char* kDefaultLibrary = "libsqlite3.so.0";
constexpr const char* kLibraryVariable = "ORVANE_SQLITE_LIBRARY";

// The entry points, in the order the layer has always listed them. The backup
// functions, sqlite3_changes and sqlite3_last_insert_rowid are bound but unused, so
// the binding demands the same library surface wherever it runs.
struct TSQLiteApi {
  decltype(&sqlite3_backup_finish) backup_finish = nullptr;
  decltype(&sqlite3_backup_init) backup_init = nullptr;
  decltype(&sqlite3_backup_step) backup_step = nullptr;
  decltype(&sqlite3_bind_blob) bind_blob = nullptr;
  decltype(&sqlite3_bind_double) bind_double = nullptr;
  decltype(&sqlite3_bind_int) bind_int = nullptr;
  decltype(&sqlite3_bind_null) bind_null = nullptr;
  decltype(&sqlite3_bind_text) bind_text = nullptr;
  decltype(&sqlite3_changes) changes = nullptr;
  decltype(&sqlite3_close) close = nullptr;
  decltype(&sqlite3_column_blob) column_blob = nullptr;
  decltype(&sqlite3_column_bytes) column_bytes = nullptr;
  decltype(&sqlite3_column_double) column_double = nullptr;
  decltype(&sqlite3_column_int) column_int = nullptr;
  decltype(&sqlite3_column_name) column_name = nullptr;
  decltype(&sqlite3_column_count) column_count = nullptr;
  decltype(&sqlite3_column_text) column_text = nullptr;
  decltype(&sqlite3_column_type) column_type = nullptr;
  decltype(&sqlite3_errmsg) errmsg = nullptr;
  decltype(&sqlite3_exec) exec = nullptr;
  decltype(&sqlite3_finalize) finalize = nullptr;
  decltype(&sqlite3_free) free = nullptr;
  decltype(&sqlite3_last_insert_rowid) last_insert_rowid = nullptr;
  decltype(&sqlite3_open) open = nullptr;
  decltype(&sqlite3_prepare_v3) prepare_v3 = nullptr;
  decltype(&sqlite3_reset) reset = nullptr;
  decltype(&sqlite3_step) step = nullptr;
  decltype(&sqlite3_libversion) libversion = nullptr;
};

template <typename Function>
bool BindSymbol(void* library, const char* name, Function& slot) {
  void* address = dlsym(library, name);
  slot = reinterpret_cast<Function>(address);
  return address != nullptr;
}

// The process-wide binding, made on first use and released when the process ends.
// A library that lacks any entry point is released at once and counts as absent:
// calling through a missing one would crash, and every entry point is used or
// required by the layer's contract.
class TSQLiteBinding {
public:
  static TSQLiteBinding& Instance() {
    static TSQLiteBinding binding;
    return binding;
  }

  const TSQLiteApi* Api() const { return m_library ? &m_api : nullptr; }
  void* Library() const { return m_library; }

  ~TSQLiteBinding() {
    if (m_library) dlclose(m_library);
  }
  TSQLiteBinding(const TSQLiteBinding&) = delete;
  TSQLiteBinding& operator=(const TSQLiteBinding&) = delete;

private:
  TSQLiteBinding() {
    const char* configured = std::getenv(kLibraryVariable);
    const char* name = configured && *configured ? configured : kDefaultLibrary;
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    bool complete = true;
    complete &= BindSymbol(library, "sqlite3_backup_finish", m_api.backup_finish);
    complete &= BindSymbol(library, "sqlite3_backup_init", m_api.backup_init);
    complete &= BindSymbol(library, "sqlite3_backup_step", m_api.backup_step);
    complete &= BindSymbol(library, "sqlite3_bind_blob", m_api.bind_blob);
    complete &= BindSymbol(library, "sqlite3_bind_double", m_api.bind_double);
    complete &= BindSymbol(library, "sqlite3_bind_int", m_api.bind_int);
    complete &= BindSymbol(library, "sqlite3_bind_null", m_api.bind_null);
    complete &= BindSymbol(library, "sqlite3_bind_text", m_api.bind_text);
    complete &= BindSymbol(library, "sqlite3_changes", m_api.changes);
    complete &= BindSymbol(library, "sqlite3_close", m_api.close);
    complete &= BindSymbol(library, "sqlite3_column_blob", m_api.column_blob);
    complete &= BindSymbol(library, "sqlite3_column_bytes", m_api.column_bytes);
    complete &= BindSymbol(library, "sqlite3_column_double", m_api.column_double);
    complete &= BindSymbol(library, "sqlite3_column_int", m_api.column_int);
    complete &= BindSymbol(library, "sqlite3_column_name", m_api.column_name);
    complete &= BindSymbol(library, "sqlite3_column_count", m_api.column_count);
    complete &= BindSymbol(library, "sqlite3_column_text", m_api.column_text);
    complete &= BindSymbol(library, "sqlite3_column_type", m_api.column_type);
    complete &= BindSymbol(library, "sqlite3_errmsg", m_api.errmsg);
    complete &= BindSymbol(library, "sqlite3_exec", m_api.exec);
    complete &= BindSymbol(library, "sqlite3_finalize", m_api.finalize);
    complete &= BindSymbol(library, "sqlite3_free", m_api.free);
    complete &= BindSymbol(library, "sqlite3_last_insert_rowid", m_api.last_insert_rowid);
    complete &= BindSymbol(library, "sqlite3_open", m_api.open);
    complete &= BindSymbol(library, "sqlite3_prepare_v3", m_api.prepare_v3);
    complete &= BindSymbol(library, "sqlite3_reset", m_api.reset);
    complete &= BindSymbol(library, "sqlite3_step", m_api.step);
    complete &= BindSymbol(library, "sqlite3_libversion", m_api.libversion);
    if (!complete) {
      m_api = {};
      dlclose(library);
      return;
    }
    m_library = library;
  }

  void* m_library = nullptr;
  TSQLiteApi m_api;
};

const TSQLiteApi* Api() { return TSQLiteBinding::Instance().Api(); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool FitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

// 64 lowercase hex digits of SHA-256 over data, or empty when the digest fails.
std::string Sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 0x0F]);
  }
  return hex;
}

}  // namespace

bool LoadSQLiteLibrary() { return Api() != nullptr; }

bool SQLiteLibraryLoaded() { return Api() != nullptr; }

void* SQLiteGetProc(const char* name) {
  void* library = TSQLiteBinding::Instance().Library();
  return library && name ? dlsym(library, name) : nullptr;
}

std::string SQLiteLibraryVersion() {
  const TSQLiteApi* api = Api();
  if (!api) return {};
  const char* version = api->libversion();
  return version ? version : "";
}

bool SQLiteHasJsonb() {
  static const bool hasJsonb = [] {
    TSQLiteDB probe("");
    return probe.Compiles("SELECT jsonb('{}')");
  }();
  return hasJsonb;
}

void TSQLiteStatementDeleter::operator()(sqlite3_stmt* statement) const noexcept {
  if (const TSQLiteApi* api = Api()) api->finalize(statement);
}

void TSQLiteDB::THandleCloser::operator()(sqlite3* handle) const noexcept {
  // SQLITE_BUSY here means a query outlived its connection; nothing can be done
  // about it while closing.
  if (const TSQLiteApi* api = Api()) api->close(handle);
}

struct TSQLiteDB::TLogFile {
  explicit TLogFile(int descriptor) : fd(descriptor) {}
  ~TLogFile() { ::close(fd); }
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  void Write(const std::string& line) const {
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a debug log must never disturb the database work
      done += static_cast<std::size_t>(n);
    }
  }

  int fd;
};

TSQLiteDB::TSQLiteDB(const std::string& fileName) {
  const TSQLiteApi* api = Api();
  if (!api) return;
  sqlite3* handle = nullptr;
  api->open(fileName.empty() ? ":memory:" : fileName.c_str(), &handle);
  m_handle.reset(handle);
}

TSQLiteDB::~TSQLiteDB() {
  if (Api()) Commit();
  SetDebugLog(false);
  m_handle.reset();
}

bool TSQLiteDB::Execute(const std::string& sql) {
  Log("Execute: " + Quoted(sql));
  int rc = sqliteLibraryAbsent;
  m_lastError.clear();
  if (const TSQLiteApi* api = Api()) {
    char* message = nullptr;
    // SQLite would run the text up to the zero byte and call that success.
    if (const std::size_t zero = sql.find('\0'); zero != std::string::npos) {
      rc = SQLITE_ERROR;
      m_lastError = "zero byte in the SQL text at offset " + std::to_string(zero);
    } else {
      rc = api->exec(Handle(), sql.c_str(), nullptr, nullptr, &message);
    }
    if (message) {
      m_lastError = message;
      api->free(message);
    }
  }
  LogResult("Result: " + std::to_string(rc), m_lastError);
  return rc == sqliteOK;
}

bool TSQLiteDB::CreateIndex(const std::string& table, const std::string& columns,
                            const std::string& indexName, bool unique, const std::string& where) {
  std::string name = indexName;
  if (name.empty()) {
    const std::string prefix = "K__" + table + "__";
    unsigned char salt[16];
    // Without fresh randomness a repeated call would silently reuse the old name.
    if (RAND_bytes(salt, sizeof salt) != 1) return false;
    const std::string digest =
        Sha256Hex(prefix + columns + std::string(reinterpret_cast<const char*>(salt), sizeof salt));
    if (digest.empty()) return false;
    name = prefix + digest;
  }
  std::string sql = "CREATE ";
  if (unique) sql += "UNIQUE ";
  sql += "INDEX IF NOT EXISTS `" + name + "` ON `" + table + "` (" + columns + ")";
  if (!where.empty()) sql += " WHERE " + where;
  return Execute(sql);
}

void TSQLiteDB::Commit() {
  if (!InTransaction) return;
  InTransaction = false;
  Execute("COMMIT");
}

bool TSQLiteDB::Prepare(const std::string& sql, TSQLiteStatement& statement, unsigned flags) {
  Log("Preparing: " + Quoted(sql));
  int rc = sqliteLibraryAbsent;
  if (const TSQLiteApi* api = Api()) {
    sqlite3_stmt* compiled = nullptr;
    const char* tail = nullptr;
    rc = FitsInt(sql.size()) ? api->prepare_v3(Handle(), sql.data(), static_cast<int>(sql.size()),
                                               flags, &compiled, &tail)
                             : SQLITE_TOOBIG;
    statement.reset(compiled);
  }
  Log("Result: " + std::to_string(rc));
  return rc == sqliteOK;
}

bool TSQLiteDB::Compiles(const std::string& sql) {
  const TSQLiteApi* api = Api();
  if (!api || !FitsInt(sql.size())) return false;
  sqlite3_stmt* compiled = nullptr;
  const int rc =
      api->prepare_v3(Handle(), sql.data(), static_cast<int>(sql.size()), 0, &compiled, nullptr);
  TSQLiteStatement owner(compiled);
  return rc == sqliteOK && compiled != nullptr;
}

int TSQLiteDB::Step(sqlite3_stmt* statement) {
  const TSQLiteApi* api = Api();
  if (!api) {
    Log("Step: " + std::to_string(sqliteLibraryAbsent));
    return sqliteLibraryAbsent;
  }
  const int rc = api->step(statement);
  if (rc == sqliteDone) {
    Log("Step: " + std::to_string(rc));
    return rc;
  }
  const char* message = api->errmsg(Handle());
  m_lastError = message ? message : "";
  LogResult("Step: " + std::to_string(rc), m_lastError);
  return rc;
}

int TSQLiteDB::ResetStatement(sqlite3_stmt* statement) {
  const TSQLiteApi* api = Api();
  const int rc = api ? api->reset(statement) : sqliteLibraryAbsent;
  Log("Reset statement: " + std::to_string(rc));
  return rc;
}

int TSQLiteDB::ColumnCount(sqlite3_stmt* statement) {
  const TSQLiteApi* api = Api();
  const int count = api ? api->column_count(statement) : 0;
  Log("Columns: " + std::to_string(count));
  return count;
}

std::string TSQLiteDB::ColumnName(sqlite3_stmt* statement, int column) {
  const TSQLiteApi* api = Api();
  const char* name = api ? api->column_name(statement, column) : nullptr;
  return name ? name : "";
}

int TSQLiteDB::ColumnType(sqlite3_stmt* statement, int column) {
  const TSQLiteApi* api = Api();
  return api ? api->column_type(statement, column) : 0;
}

std::string TSQLiteDB::ColumnText(sqlite3_stmt* statement, int column) {
  const TSQLiteApi* api = Api();
  const unsigned char* text = api ? api->column_text(statement, column) : nullptr;
  return text ? reinterpret_cast<const char*>(text) : "";
}

std::string TSQLiteDB::ColumnBlob(sqlite3_stmt* statement, int column) {
  const TSQLiteApi* api = Api();
  if (!api) return {};
  // The pointer first, then the size: asking for the size first may convert the value.
  const void* bytes = api->column_blob(statement, column);
  const int size = api->column_bytes(statement, column);
  if (!bytes || size <= 0) return {};
  return std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

double TSQLiteDB::ColumnDouble(sqlite3_stmt* statement, int column) {
  const TSQLiteApi* api = Api();
  return api ? api->column_double(statement, column) : 0.0;
}

std::int32_t TSQLiteDB::ColumnInt(sqlite3_stmt* statement, int column) {
  const TSQLiteApi* api = Api();
  return api ? api->column_int(statement, column) : 0;
}

Variant TSQLiteDB::ColumnValue(sqlite3_stmt* statement, int column) {
  switch (ColumnType(statement, column)) {
    case SQLITE_INTEGER: return Variant(ColumnInt(statement, column));
    case SQLITE_FLOAT: return Variant(ColumnDouble(statement, column));
    case SQLITE_TEXT: return Variant(ColumnText(statement, column));
    case SQLITE_BLOB: return Variant(ColumnBlob(statement, column));
    default: return Variant();
  }
}

bool TSQLiteDB::BindBlob(sqlite3_stmt* statement, int parameter, const std::string& bytes) {
  const TSQLiteApi* api = Api();
  if (!api || !FitsInt(bytes.size())) return false;
  return api->bind_blob(statement, parameter, bytes.data(), static_cast<int>(bytes.size()),
                        SQLITE_TRANSIENT) == sqliteOK;
}

bool TSQLiteDB::BindText(sqlite3_stmt* statement, int parameter, const std::string& text) {
  const TSQLiteApi* api = Api();
  if (!api || !FitsInt(text.size())) return false;
  // data() of an empty string is a valid pointer, so "" binds as empty text, not NULL.
  return api->bind_text(statement, parameter, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) == sqliteOK;
}

bool TSQLiteDB::BindDouble(sqlite3_stmt* statement, int parameter, double value) {
  const TSQLiteApi* api = Api();
  return api && api->bind_double(statement, parameter, value) == sqliteOK;
}

bool TSQLiteDB::BindInt(sqlite3_stmt* statement, int parameter, std::int32_t value) {
  const TSQLiteApi* api = Api();
  return api && api->bind_int(statement, parameter, value) == sqliteOK;
}

bool TSQLiteDB::BindBoolean(sqlite3_stmt* statement, int parameter, bool value) {
  return BindInt(statement, parameter, value ? 1 : 0);
}

bool TSQLiteDB::BindNull(sqlite3_stmt* statement, int parameter) {
  const TSQLiteApi* api = Api();
  return api && api->bind_null(statement, parameter) == sqliteOK;
}

bool TSQLiteDB::BindValue(sqlite3_stmt* statement, int parameter, const Variant& value) {
  if (!Api()) return false;
  if (value.IsString()) {
    const std::string text = value.ToString();
    if (text.find('\0') != std::string::npos) return BindBlob(statement, parameter, text);
    return BindText(statement, parameter, text);
  }
  if (value.IsBoolean()) return BindBoolean(statement, parameter, value.ToBool());
  // An unsigned 64-bit value would lose its upper half; it is no kind this layer binds.
  if (value.IsInteger() && value.kind() != vkUInt64) return BindInt(statement, parameter, value.ToInt32());
  if (value.IsFloat()) return BindDouble(statement, parameter, value.ToDouble());
  if (value.IsDateTime()) return BindText(statement, parameter, VariantDateText(value, true));
  return BindNull(statement, parameter);
}

void TSQLiteDB::Log(const std::string& text) {
  if (OnLog) OnLog(*this, text);
  if (m_logFile) m_logFile->Write("[" + NowText() + "] " + text + "\r\n");
}

void TSQLiteDB::LogResult(const std::string& text, const std::string& error) {
  Log(error.empty() ? text : text + "; " + error);
}

bool TSQLiteDB::DebugLog() const { return m_logFile != nullptr; }

bool TSQLiteDB::SetDebugLog(bool on) {
  if (on == DebugLog()) return true;
  if (!on) {
    m_logFile.reset();
    return true;
  }
  const std::string path = ExpandEnvironment("%TEMP%") + "/sqlite.debug.log";
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) return false;
  auto file = std::make_unique<TLogFile>(descriptor);
  // Other writers are locked out for as long as the log is on.
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) return false;
  m_logFile = std::move(file);
  return true;
}

TSQLiteQuery::TSQLiteQuery(TSQLiteDB& database) : m_database(database) {}

TSQLiteQuery::~TSQLiteQuery() { Close(); }

bool TSQLiteQuery::Prepare(bool persistent) {
  Close();
  std::string text;
  for (const std::string& line : SQL) text += line + "\r\n";
  const bool prepared =
      m_database.Prepare(text, m_statement, persistent ? sqlitePreparePersistent : 0);
  if (prepared) LoadColumns();
  return prepared;
}

void TSQLiteQuery::LoadColumns() {
  const int count = m_database.ColumnCount(m_statement.get());
  m_columns.clear();
  for (int column = 0; column < count; ++column)
    m_columns.push_back(UpperText(m_database.ColumnName(m_statement.get(), column)));
}

bool TSQLiteQuery::Open() {
  if (m_active) return true;
  if (!m_statement && !Prepare(false)) {
    m_eof = true;
    return false;
  }
  m_eof = false;
  m_active = true;
  return Next();
}

bool TSQLiteQuery::Next() {
  if (!m_active || m_eof) return false;
  const int rc = m_database.Step(m_statement.get());
  m_eof = rc != sqliteRow;
  return rc == sqliteRow;
}

void TSQLiteQuery::Close() {
  if (!m_statement) return;
  m_statement.reset();
  m_active = false;
  m_eof = true;
  m_columns.clear();
}

bool TSQLiteQuery::BindParam(int parameter, const Variant& value) {
  return m_database.BindValue(m_statement.get(), parameter, value);
}

int TSQLiteQuery::ColumnIndex(const std::string& name) const {
  const std::string wanted = UpperText(name);
  for (std::size_t i = 0; i < m_columns.size(); ++i)
    if (UpperText(m_columns[i]) == wanted) return static_cast<int>(i);
  return -1;
}

Variant TSQLiteQuery::FieldValue(const std::string& name) {
  const int column = ColumnIndex(name);
  if (column < 0) return Variant();
  return m_database.ColumnValue(m_statement.get(), column);
}

bool TSQLiteQuery::Reset() {
  if (!m_statement) return false;
  m_active = false;
  m_eof = true;
  return m_database.ResetStatement(m_statement.get()) == sqliteOK;
}

bool TSQLiteQuery::ExecSQL() {
  if (m_active) return false;
  if (!m_statement && !Prepare(false)) return false;
  const int rc = m_database.Step(m_statement.get());
  Reset();
  return rc == sqliteDone;
}
