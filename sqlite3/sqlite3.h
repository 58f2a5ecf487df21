#ifndef QUORVALE_SQLITE3_SQLITE3_H_
#define QUORVALE_SQLITE3_SQLITE3_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "errors/errors.h"
#include "sql/driver.h"

struct sqlite3;

namespace quorvale::sqlite3 {

// SQLiteConn is one open SQLite database connection, in serialized mode
// (its calls may come from any thread). Closing it, or destroying it
// unclosed, releases the connection.
class SQLiteConn final : public sql::Conn {
 public:
  explicit SQLiteConn(::sqlite3* db) : db_(db) {}
  SQLiteConn(const SQLiteConn&) = delete;
  SQLiteConn& operator=(const SQLiteConn&) = delete;
  ~SQLiteConn() override;

  Error Close() override;

  // The connection for SQLite's C API; null once closed.
  ::sqlite3* Handle() const noexcept { return db_; }

 private:
  ::sqlite3* db_;
};

// SQLiteDriver opens SQLite databases. Linking this package registers one
// SQLiteDriver, with both fields empty, under the name "sqlite3".
//
// A data-source name is an SQLite file name: a path, ":memory:", "" (a
// private temporary database) or a "file:" URI. A database that does not
// exist is created. Every connection has foreign keys, recursive triggers,
// extension loading and the FTS3 tokenizer registration function off.
class SQLiteDriver final : public sql::Driver {
 public:
  // Extensions to load into each connection. This build leaves extension
  // loading out, as a way into the process for native code: a connection
  // is refused while the list is not empty.
  std::vector<std::string> Extensions;

  // Run on each new connection before Open returns it; an error refuses the
  // connection, which is then closed.
  std::function<Error(SQLiteConn&)> ConnectHook;

  std::pair<std::unique_ptr<sql::Conn>, Error> Open(
      std::string_view name) override;
};

}  // namespace quorvale::sqlite3

#endif  // QUORVALE_SQLITE3_SQLITE3_H_
