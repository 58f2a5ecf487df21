#include "sql/sql.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

namespace quorvale::sql {

class DBTestPeer {
 public:
  static void RequestConnection(DB& db) { db.RequestConnection(); }
  static std::size_t IdleConnections(DB& db) { return db.IdleConnections(); }
};

namespace {

using namespace std::chrono_literals;
constexpr auto kPatience = 10s;  // far beyond any sound wait

// A latch that tests wait on with a time limit, so a fault fails instead of
// hanging.
class Event {
 public:
  void Set() {
    std::lock_guard lock(mu_);
    set_ = true;
    cv_.notify_all();
  }
  bool WaitFor(std::chrono::seconds limit) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, limit, [&] { return set_; });
  }
  bool IsSet() {
    std::lock_guard lock(mu_);
    return set_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_ = false;
};

// What a test connection and connector report about themselves; shared, as
// the connection opener may still hold them when the test looks.
struct Log {
  std::atomic<int> connects{0};
  std::atomic<int> closes{0};
  Event connecting;
  Event may_connect;
  Event connector_destroyed;
  Error close_error;
};

class FakeConn final : public Conn {
 public:
  explicit FakeConn(std::shared_ptr<Log> log) : log_(std::move(log)) {}
  Error Close() override {
    ++log_->closes;
    return log_->close_error;
  }

 private:
  std::shared_ptr<Log> log_;
};

// Counts the driver calls that Open and Close must never make.
class FakeDriver : public Driver {
 public:
  std::pair<std::unique_ptr<Conn>, Error> Open(std::string_view) override {
    ++opens;
    return {nullptr, Error("fake: no connections")};
  }
  std::atomic<int> opens{0};
};

class FakeConnector final : public Connector {
 public:
  explicit FakeConnector(std::shared_ptr<Log> log, bool block = false)
      : log_(std::move(log)), block_(block) {}
  ~FakeConnector() override { log_->connector_destroyed.Set(); }

  std::pair<std::unique_ptr<Conn>, Error> Connect() override {
    ++log_->connects;
    log_->connecting.Set();
    if (block_ && !log_->may_connect.WaitFor(kPatience)) {
      return {nullptr, Error("fake: never let through")};
    }
    return {std::make_unique<FakeConn>(log_), Error()};
  }
  sql::Driver& Driver() override { return driver_; }

 private:
  std::shared_ptr<Log> log_;
  bool block_;
  FakeDriver driver_;
};

// A driver with a connector factory of its own.
class FakeContextDriver final : public FakeDriver, public DriverContext {
 public:
  std::pair<std::unique_ptr<Connector>, Error> OpenConnector(
      std::string_view name) override {
    last_name = std::string(name);
    if (name == "bad") return {nullptr, Error("fake: bad name")};
    return {std::make_unique<FakeConnector>(std::make_shared<Log>()), Error()};
  }
  std::string last_name;
};

FakeDriver& PlainDriver() {
  static FakeDriver* const driver = [] {
    auto* d = new FakeDriver;
    Register("fake-db", d);
    return d;
  }();
  return *driver;
}

FakeContextDriver& ContextDriver() {
  static FakeContextDriver* const driver = [] {
    auto* d = new FakeContextDriver;
    Register("fake-ctx", d);
    return d;
  }();
  return *driver;
}

struct LookupCase {
  const char* test_name;
  std::string name;
  // The error text; empty when the name must be found.
  std::string error;
};

class OpenLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(OpenLookupTest, FindsOnlyTheExactName) {
  FakeDriver& driver = PlainDriver();
  const LookupCase& c = GetParam();
  auto [db, err] = Open(c.name, "some dsn");
  if (c.error.empty()) {
    ASSERT_FALSE(err) << err.Text();
    ASSERT_NE(db, nullptr);
    EXPECT_FALSE(db->Close());
  } else {
    EXPECT_EQ(db, nullptr);
    ASSERT_TRUE(err);
    EXPECT_EQ(err.Text(), c.error);
  }
  // Neither opening nor closing a handle opens a connection.
  EXPECT_EQ(driver.opens, 0);
}

std::string Unknown(std::string_view quoted) {
  return "sql: unknown driver " + std::string(quoted) + " (forgotten import?)";
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenLookupTest,
    ::testing::Values(
        LookupCase{"Exact", "fake-db", ""},
        LookupCase{"OtherCase", "Fake-DB", Unknown(R"("Fake-DB")")},
        LookupCase{"LeadingBlank", " fake-db", Unknown(R"(" fake-db")")},
        LookupCase{"TrailingBlank", "fake-db ", Unknown(R"("fake-db ")")},
        LookupCase{"TrailingLineFeed", "fake-db\n", Unknown(R"("fake-db\n")")},
        LookupCase{"Prefix", "fake", Unknown(R"("fake")")},
        LookupCase{"Empty", "", Unknown(R"("")")},
        LookupCase{"Unregistered", "sqlite3", Unknown(R"("sqlite3")")},
        LookupCase{"EmbeddedNul", std::string("fake-db\0x", 9),
                   Unknown(R"("fake-db\x00x")")},
        LookupCase{"Escapes", "q\"b\\\t\x01\xff\u00e9",
                   Unknown(R"("q\"b\\\t\x01\xff)"
                           "\u00e9\"")}),
    [](const auto& info) { return std::string(info.param.test_name); });

TEST(OpenTest, DriverContextGetsTheNameAndItsErrorIsPassedOn) {
  FakeContextDriver& driver = ContextDriver();
  {
    auto [db, err] = Open("fake-ctx", "file:x?mode=ro");
    ASSERT_FALSE(err) << err.Text();
    EXPECT_NE(db, nullptr);
    EXPECT_EQ(driver.last_name, "file:x?mode=ro");
  }
  auto [db, err] = Open("fake-ctx", "bad");
  EXPECT_EQ(db, nullptr);
  EXPECT_EQ(err.Text(), "fake: bad name");
  EXPECT_EQ(driver.opens, 0);
}

TEST(RegisterDeathTest, RefusalsPanicWithStatusTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(Register("nil-driver", nullptr), ::testing::ExitedWithCode(2),
              "^panic: sql: Register driver is nil\n");
  PlainDriver();
  static FakeDriver other;
  EXPECT_EXIT(Register("fake-db", &other), ::testing::ExitedWithCode(2),
              "^panic: sql: Register called twice for driver fake-db\n");
}

TEST(OpenDBTest, RefusesANullConnector) {
  auto [db, err] = OpenDB(nullptr);
  EXPECT_EQ(db, nullptr);
  EXPECT_TRUE(err);
}

TEST(CloseTest, SecondCloseIsHarmless) {
  auto log = std::make_shared<Log>();
  auto [db, err] = OpenDB(std::make_unique<FakeConnector>(log));
  ASSERT_FALSE(err);
  EXPECT_FALSE(db->Close());
  EXPECT_FALSE(db->Close());
  EXPECT_EQ(log->connects, 0);
}

// The opener holds the connector until it ends: its destruction shows that
// the opener let go, with no one waiting for it.
TEST(CloseTest, OpenerEndsAfterClose) {
  auto log = std::make_shared<Log>();
  auto [db, err] = OpenDB(std::make_unique<FakeConnector>(log));
  ASSERT_FALSE(err);
  EXPECT_FALSE(db->Close());
  db.reset();
  EXPECT_TRUE(log->connector_destroyed.WaitFor(kPatience));
  EXPECT_EQ(log->connects, 0);
}

TEST(CloseTest, HandleDroppedWithoutCloseStillStopsItsOpener) {
  auto log = std::make_shared<Log>();
  auto [db, err] = OpenDB(std::make_unique<FakeConnector>(log));
  ASSERT_FALSE(err);
  db.reset();
  EXPECT_TRUE(log->connector_destroyed.WaitFor(kPatience));
}

TEST(CloseTest, ClosesIdleConnectionsAndReturnsTheirError) {
  auto log = std::make_shared<Log>();
  log->close_error = Error("fake: close failed");
  auto [db, err] = OpenDB(std::make_unique<FakeConnector>(log));
  ASSERT_FALSE(err);
  DBTestPeer::RequestConnection(*db);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (DBTestPeer::IdleConnections(*db) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(DBTestPeer::IdleConnections(*db), 1u);
  EXPECT_EQ(db->Close().Text(), "fake: close failed");
  EXPECT_EQ(log->closes, 1);
  EXPECT_FALSE(db->Close());
  EXPECT_EQ(log->closes, 1);
}

TEST(CloseTest, DoesNotWaitForABusyOpener) {
  auto log = std::make_shared<Log>();
  auto [db, err] = OpenDB(std::make_unique<FakeConnector>(log, true));
  ASSERT_FALSE(err);
  DBTestPeer::RequestConnection(*db);
  ASSERT_TRUE(log->connecting.WaitFor(kPatience));

  // The opener is stuck in Connect: Close must come back regardless.
  DB* handle = db.get();
  auto closed =
      std::async(std::launch::async, [handle] { return handle->Close(); });
  ASSERT_EQ(closed.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(closed.get());
  db.reset();
  EXPECT_FALSE(log->connector_destroyed.IsSet());

  // The connection it then gets belongs to a closed handle: it is closed
  // at once, and the opener ends.
  log->may_connect.Set();
  EXPECT_TRUE(log->connector_destroyed.WaitFor(kPatience));
  EXPECT_EQ(log->closes, 1);
}

}  // namespace
}  // namespace quorvale::sql
