#include "sqlite3/sqlite3.h"

#include <sqlite3.h>

#include "fmt/quote.h"
#include "sql/sql.h"

namespace quorvale::sqlite3 {

namespace {

Error OpenError(std::string_view name, std::string_view why,
                int sys_errno = 0) {
  std::string text = "sqlite3: cannot open ";
  text += fmt::Quote(name);
  text += ": ";
  text += why;
  return Error(std::move(text), sys_errno);
}

}  // namespace

SQLiteConn::~SQLiteConn() { Close(); }

Error SQLiteConn::Close() {
  if (db_ == nullptr) return Error();
  // close_v2 never fails on a valid handle: what is still in use is
  // released when it is finished with.
  sqlite3_close_v2(db_);
  db_ = nullptr;
  return Error();
}

std::pair<std::unique_ptr<sql::Conn>, Error> SQLiteDriver::Open(
    std::string_view name) {
  if (!Extensions.empty()) {
    return {nullptr, OpenError(name, "extension loading is unavailable")};
  }
  // SQLite reads the name up to its first NUL: what follows would be
  // silently dropped, and another file opened than the one named.
  if (name.find('\0') != std::string_view::npos) {
    return {nullptr, OpenError(name, "the name holds a NUL byte")};
  }
  const std::string filename(name);
  ::sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(filename.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                     SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) {
    Error err =
        OpenError(name, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc),
                  db != nullptr ? sqlite3_system_errno(db) : 0);
    sqlite3_close_v2(db);
    return {nullptr, std::move(err)};
  }
  auto conn = std::make_unique<SQLiteConn>(db);
  // Both are ways to run native code chosen by whoever controls the SQL
  // text; SQLite builds differ in whether they start enabled.
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  if (ConnectHook) {
    if (Error err = ConnectHook(*conn); err) return {nullptr, std::move(err)};
  }
  return {std::move(conn), Error()};
}

namespace {

// The driver is there before the program runs. It is never destroyed, as
// the registry keeps it for good; it makes no call into SQLite.
[[maybe_unused]] const bool registered = [] {
  sql::Register("sqlite3", new SQLiteDriver());
  return true;
}();

}  // namespace

}  // namespace quorvale::sqlite3
