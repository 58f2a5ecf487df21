#ifndef QUORVALE_SQL_SQL_H_
#define QUORVALE_SQL_SQL_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

#include "errors/errors.h"
#include "sql/driver.h"

namespace quorvale::sql {

// Register makes driver available to Open under name, for the rest of the
// process. A driver package calls it from its start-up initialiser. driver
// must never be destroyed. A null driver, or a name already registered, is
// a programming error: the process writes "panic: " and the reason, then a
// short report, to standard error and ends with status 2.
void Register(std::string_view name, Driver* driver);

// DB is a handle on a database: a driver with its data-source name. It
// opens connections only when one is asked of it, on a background thread
// of its own, the connection opener, which runs from OpenDB until Close.
// Safe for use from several threads.
class DB {
 public:
  DB(const DB&) = delete;
  DB& operator=(const DB&) = delete;

  // A handle that was never closed is closed here, so that its connection
  // opener does not wait on forever.
  ~DB();

  // Close marks the handle closed, stops its connection opener and closes
  // its idle connections; it returns the first error of those closes, or an
  // empty Error. It never waits for the opener, which may still be running
  // when Close returns and ends on its own. Closing a closed handle returns
  // an empty Error and does nothing.
  Error Close();

  // What the handle shares with its connection opener; opaque.
  struct State;

 private:
  friend class DBTestPeer;
  friend std::pair<std::unique_ptr<DB>, Error> OpenDB(
      std::unique_ptr<Connector> connector);

  explicit DB(std::shared_ptr<State> state) : state_(std::move(state)) {}

  // Cancels what the connection opener waits on; it then ends.
  void Stop();
  // Asks the connection opener for one more idle connection.
  void RequestConnection();
  std::size_t IdleConnections();

  // Shared with the connection opener, which may outlive the handle.
  std::shared_ptr<State> state_;
};

// Open returns a handle on the driver registered under driverName (compared
// byte for byte) for the data-source name dataSourceName: exactly one of
// the results is present. An unregistered name gives the error
// `sql: unknown driver "<name>" (forgotten import?)`, the name escaped as a
// double-quoted string literal. Open calls nothing of the driver but its
// OpenConnector, when it is a DriverContext; otherwise the name is kept
// unexamined for the connections the handle may later open.
//
//   auto [db, err] = sql::Open("sqlite3", "");
std::pair<std::unique_ptr<DB>, Error> Open(std::string_view driverName,
                                           std::string_view dataSourceName);

// OpenDB returns a handle whose connections connector opens, and starts its
// connection opener without waiting for it to run. It opens no connection.
// It fails only when the system refuses the opener's thread, or when
// connector is null.
std::pair<std::unique_ptr<DB>, Error> OpenDB(
    std::unique_ptr<Connector> connector);

}  // namespace quorvale::sql

#endif  // QUORVALE_SQL_SQL_H_
