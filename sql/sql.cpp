#include "sql/sql.h"

#include <pthread.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "fmt/quote.h"
#include "os/exit.h"
#include "os/file.h"

namespace quorvale::sql {

namespace {

struct Registry {
  std::shared_mutex mu;
  std::map<std::string, Driver*, std::less<>> drivers;
};

// Never destroyed: a driver's initialiser in another file may register
// before this file's initialisers ran, and a thread may still look a name
// up while the process exits.
Registry& Drivers() {
  static Registry* const registry = new Registry;
  return *registry;
}

// A refused registration is a fault of the program itself, found before
// it could do any work: stop at once, loudly, with a status of its own.
[[noreturn]] void Panic(std::string_view message) {
  std::string report = "panic: ";
  report.append(message);
  report.append("\n\nquorvale stopped in sql::Register: ");
  report.append("a database driver registration was refused\n");
  os::Stderr.Write(report);
  os::Exit(2);
}

// The connector of a driver that has no connector of its own: it opens
// every connection with the data-source name as given.
class dsnConnector final : public Connector {
 public:
  dsnConnector(std::string dsn, sql::Driver& driver)
      : dsn_(std::move(dsn)), driver_(driver) {}

  std::pair<std::unique_ptr<Conn>, Error> Connect() override {
    return driver_.Open(dsn_);
  }
  sql::Driver& Driver() override { return driver_; }

 private:
  std::string dsn_;
  sql::Driver& driver_;
};

}  // namespace

void Register(std::string_view name, Driver* driver) {
  Registry& registry = Drivers();
  std::unique_lock lock(registry.mu);
  if (driver == nullptr) Panic("sql: Register driver is nil");
  if (!registry.drivers.try_emplace(std::string(name), driver).second) {
    Panic(std::string("sql: Register called twice for driver ").append(name));
  }
}

std::pair<std::unique_ptr<DB>, Error> Open(std::string_view driverName,
                                           std::string_view dataSourceName) {
  Driver* driver = nullptr;
  {
    Registry& registry = Drivers();
    std::shared_lock lock(registry.mu);
    if (auto it = registry.drivers.find(driverName);
        it != registry.drivers.end()) {
      driver = it->second;
    }
  }
  if (driver == nullptr) {
    return {nullptr, Error("sql: unknown driver " + fmt::Quote(driverName) +
                           " (forgotten import?)")};
  }
  if (auto* factory = dynamic_cast<DriverContext*>(driver)) {
    auto [connector, err] = factory->OpenConnector(dataSourceName);
    if (err) return {nullptr, std::move(err)};
    return OpenDB(std::move(connector));
  }
  return OpenDB(
      std::make_unique<dsnConnector>(std::string(dataSourceName), *driver));
}

// Everything the connection opener touches. The opener holds it as long
// as the handle does, so neither can see it freed: the opener is never
// joined and may run past the handle's destruction.
struct DB::State {
  // The handle's lock; guards all below but the connector, which is set
  // before the opener starts and never changes.
  std::mutex mu;
  std::condition_variable cv;  // the opener waits on it
  bool closed = false;
  bool cancelled = false;  // set by the stop function
  int pending_opens = 0;   // connections asked of the opener
  std::vector<std::unique_ptr<Conn>> idle;
  std::unique_ptr<Connector> connector;
};

namespace {

// The handle's background worker: opens the connections asked of it, one
// by one, until the handle is stopped.
void connectionOpener(const std::shared_ptr<DB::State>& s) {
  std::unique_lock lock(s->mu);
  for (;;) {
    s->cv.wait(lock, [&] { return s->cancelled || s->pending_opens > 0; });
    if (s->cancelled) return;
    --s->pending_opens;
    // Connecting may take long: the handle stays usable, and closable,
    // meanwhile.
    lock.unlock();
    auto [conn, err] = s->connector->Connect();
    lock.lock();
    if (err || conn == nullptr) continue;
    if (s->closed) {
      lock.unlock();
      conn->Close();
      lock.lock();
      continue;
    }
    s->idle.push_back(std::move(conn));
  }
}

void* RunOpener(void* arg) {
  std::unique_ptr<std::shared_ptr<DB::State>> state(
      static_cast<std::shared_ptr<DB::State>*>(arg));
  connectionOpener(*state);
  return nullptr;
}

}  // namespace

std::pair<std::unique_ptr<DB>, Error> OpenDB(
    std::unique_ptr<Connector> connector) {
  if (connector == nullptr)
    return {nullptr, Error("sql: OpenDB: no connector")};
  auto state = std::make_shared<DB::State>();
  state->connector = std::move(connector);

  // Detached from birth: nothing ever waits for the opener, and the
  // process may end while it still runs.
  auto arg = std::make_unique<std::shared_ptr<DB::State>>(state);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, RunOpener, arg.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    const char* desc = strerrordesc_np(rc);
    return {nullptr,
            Error(std::string("sql: cannot start the connection opener: ") +
                      (desc != nullptr ? desc : "unknown error"),
                  rc)};
  }
  static_cast<void>(arg.release());  // the opener's now
  return {std::unique_ptr<DB>(new DB(std::move(state))), Error()};
}

DB::~DB() { Close(); }

Error DB::Close() {
  std::vector<std::unique_ptr<Conn>> idle;
  {
    std::lock_guard lock(state_->mu);
    if (state_->closed) return Error();
    state_->closed = true;
    idle.swap(state_->idle);
  }
  Stop();
  Error first;
  for (auto& conn : idle) {
    if (Error err = conn->Close(); err && !first) first = std::move(err);
  }
  return first;
}

void DB::Stop() {
  {
    std::lock_guard lock(state_->mu);
    state_->cancelled = true;
  }
  state_->cv.notify_all();
}

void DB::RequestConnection() {
  {
    std::lock_guard lock(state_->mu);
    if (state_->closed) return;
    ++state_->pending_opens;
  }
  state_->cv.notify_all();
}

std::size_t DB::IdleConnections() {
  std::lock_guard lock(state_->mu);
  return state_->idle.size();
}

}  // namespace quorvale::sql
