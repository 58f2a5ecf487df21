#ifndef QUORVALE_SQL_DRIVER_H_
#define QUORVALE_SQL_DRIVER_H_

#include <memory>
#include <string_view>
#include <utility>

#include "errors/errors.h"

namespace quorvale::sql {

// Conn is one open connection of a driver to its database.
class Conn {
 public:
  virtual ~Conn() = default;

  // Close releases the connection. It is called once, last.
  virtual Error Close() = 0;
};

// Driver is what a database engine gives the layer: a way to open
// connections. A driver is registered once, with Register, and is then used
// for the rest of the process, possibly from several threads at once.
class Driver {
 public:
  virtual ~Driver() = default;

  // Open opens a new connection to the database that name (the data-source
  // name, in the driver's own form) describes: exactly one of the results
  // is present.
  virtual std::pair<std::unique_ptr<Conn>, Error> Open(
      std::string_view name) = 0;
};

// Connector opens connections to one fixed data source of a driver.
class Connector {
 public:
  virtual ~Connector() = default;

  // Connect opens a new connection: exactly one of the results is present.
  // The layer calls it from its connection opener, off the caller's thread.
  virtual std::pair<std::unique_ptr<Conn>, Error> Connect() = 0;

  // The driver behind the connector.
  virtual sql::Driver& Driver() = 0;
};

// DriverContext is what a Driver also implements when it would rather parse
// a data-source name once than at every connection: Open then asks it for a
// Connector instead of wrapping the name.
class DriverContext {
 public:
  virtual ~DriverContext() = default;

  // OpenConnector checks name and returns a Connector for it: exactly one of
  // the results is present.
  virtual std::pair<std::unique_ptr<Connector>, Error> OpenConnector(
      std::string_view name) = 0;
};

}  // namespace quorvale::sql

#endif  // QUORVALE_SQL_DRIVER_H_
