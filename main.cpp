// quorvale: prints its build identification and checks that its database
// layer can hand out a handle on the SQLite driver.

#include <string_view>

#include "fmt/print.h"

namespace quorvale {

// The build identification, defined when the program is linked.
extern const std::string_view Version;
extern const std::string_view GitCommitHash;
extern const std::string_view BuildDateTime;

}  // namespace quorvale

int main() {
  using namespace quorvale;
  // Each label is 21 bytes and ends in a blank, so the values line up.
  fmt::Println({"Version ...........: ", Version});
  fmt::Println({"Git commit hash ...: ", GitCommitHash});
  fmt::Println({"Build date/time ...: ", BuildDateTime});
  return 0;
}
