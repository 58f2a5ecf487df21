// quorvale: prints its build identification and checks that its database
// layer can hand out a handle on the SQLite driver.

#include <memory>
#include <string_view>

#include "fmt/print.h"
#include "log/log.h"
#include "sql/sql.h"

namespace quorvale {

// The build identification, defined when the program is linked.
extern const std::string_view Version;
extern const std::string_view GitCommitHash;
extern const std::string_view BuildDateTime;

namespace {

// Holds the handle and closes it once, when the entry returns. The close
// cannot fail for this handle, and nothing could be done about it then.
class Release {
 public:
  explicit Release(std::unique_ptr<sql::DB> db) : db_(std::move(db)) {}
  Release(const Release&) = delete;
  Release& operator=(const Release&) = delete;
  ~Release() { db_->Close(); }

 private:
  std::unique_ptr<sql::DB> db_;
};

}  // namespace
}  // namespace quorvale

// The return below ends the process at once with status 0, through
// os::Exit (os/start.cpp): no destructor or exit handler runs, and the
// handle's connection opener, which nothing waits for, ends with it.
int main() {
  using namespace quorvale;
  // Each label is 21 bytes and ends in a blank, so the values line up.
  fmt::Println({"Version ...........: ", Version});
  fmt::Println({"Git commit hash ...: ", GitCommitHash});
  fmt::Println({"Build date/time ...: ", BuildDateTime});

  auto [db, err] = sql::Open("sqlite3", "");
  if (err) log::Fatal(err);
  const Release release(std::move(db));
  return 0;
}
