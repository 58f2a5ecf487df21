#include "sqlite3/sqlite3.h"

#include <sqlite3.h>

#include <string>

#include <gtest/gtest.h>

#include "sql/sql.h"

namespace quorvale::sqlite3 {
namespace {

// Runs a statement of one integer column and one row; its error message
// instead when it fails.
std::pair<long long, std::string> QueryInt(::sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    return {0, sqlite3_errmsg(db)};
  }
  std::pair<long long, std::string> result;
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    result.first = sqlite3_column_int64(stmt, 0);
  } else {
    result.second = sqlite3_errmsg(db);
  }
  sqlite3_finalize(stmt);
  return result;
}

SQLiteConn& AsSQLite(sql::Conn& conn) {
  return dynamic_cast<SQLiteConn&>(conn);
}

TEST(SQLiteDriverTest, IsRegisteredAsSqlite3) {
  auto [db, err] = sql::Open("sqlite3", "");
  ASSERT_FALSE(err) << err.Text();
  ASSERT_NE(db, nullptr);
  EXPECT_FALSE(db->Close());
}

TEST(SQLiteDriverTest, OpensAWorkingInMemoryDatabase) {
  SQLiteDriver driver;
  auto [conn, err] = driver.Open(":memory:");
  ASSERT_FALSE(err) << err.Text();
  ASSERT_NE(conn, nullptr);
  ::sqlite3* db = AsSQLite(*conn).Handle();
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(
      sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1), (2);",
                   nullptr, nullptr, nullptr),
      SQLITE_OK)
      << sqlite3_errmsg(db);
  EXPECT_EQ(QueryInt(db, "SELECT sum(x) FROM t").first, 3);
  // Serialized: the connection has a mutex of its own.
  EXPECT_NE(sqlite3_db_mutex(db), nullptr);
  EXPECT_FALSE(conn->Close());
  EXPECT_EQ(AsSQLite(*conn).Handle(), nullptr);
  EXPECT_FALSE(conn->Close());
}

TEST(SQLiteDriverTest, ConnectionsStartWithTheRiskyFeaturesOff) {
  SQLiteDriver driver;
  auto [conn, err] = driver.Open(":memory:");
  ASSERT_FALSE(err) << err.Text();
  ::sqlite3* db = AsSQLite(*conn).Handle();
  EXPECT_EQ(QueryInt(db, "PRAGMA foreign_keys").first, 0);
  EXPECT_EQ(QueryInt(db, "PRAGMA recursive_triggers").first, 0);
  EXPECT_NE(QueryInt(db, "SELECT load_extension('libnothing')").second, "");
  EXPECT_EQ(sqlite3_load_extension(db, "libnothing", nullptr, nullptr),
            SQLITE_ERROR);
  // The two-argument form would install a tokenizer from a raw pointer.
  EXPECT_NE(QueryInt(db, "SELECT fts3_tokenizer('simple', x'0000000000000000')")
                .second,
            "");
}

TEST(SQLiteDriverTest, RefusedConnections) {
  struct Case {
    const char* what;
    std::string name;
    std::vector<std::string> extensions;
    std::string error;
  };
  const Case cases[] = {
      {"missing directory",
       "/nonexistent-dir/x.db",
       {},
       R"(sqlite3: cannot open "/nonexistent-dir/x.db": unable to open )"
       "database file"},
      {"NUL in the name",
       std::string(":memory:\0/etc/x", 15),
       {},
       R"(sqlite3: cannot open ":memory:\x00/etc/x": the name holds a )"
       "NUL byte"},
      {"extensions asked for",
       ":memory:",
       {"mod_spatialite"},
       R"(sqlite3: cannot open ":memory:": extension loading is )"
       "unavailable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SQLiteDriver driver;
    driver.Extensions = c.extensions;
    auto [conn, err] = driver.Open(c.name);
    EXPECT_EQ(conn, nullptr);
    EXPECT_EQ(err.Text(), c.error);
  }
}

TEST(SQLiteDriverTest, ConnectHookRunsOnTheNewConnectionAndCanRefuseIt) {
  SQLiteDriver driver;
  ::sqlite3* seen = nullptr;
  driver.ConnectHook = [&](SQLiteConn& conn) {
    seen = conn.Handle();
    return sqlite3_exec(conn.Handle(), "CREATE TABLE hooked(x)", nullptr,
                        nullptr, nullptr) == SQLITE_OK
               ? Error()
               : Error("hook failed");
  };
  auto [conn, err] = driver.Open(":memory:");
  ASSERT_FALSE(err) << err.Text();
  EXPECT_EQ(seen, AsSQLite(*conn).Handle());
  EXPECT_EQ(QueryInt(seen, "SELECT count(*) FROM hooked").second, "");

  driver.ConnectHook = [](SQLiteConn&) { return Error("hook: no"); };
  auto [refused, refusal] = driver.Open(":memory:");
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(refusal.Text(), "hook: no");
}

}  // namespace
}  // namespace quorvale::sqlite3
