// Builds the project again with build-identification values given on the
// cmake command line, the way a packager would, and checks that each byte
// of them reaches standard output unchanged.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process.h"

namespace quorvale::testing {
namespace {

namespace fs = std::filesystem;

// Runs cmake with these arguments; the values reach it as argv, untouched
// by any shell.
void CMake(std::vector<std::string> args, std::vector<std::string> env = {}) {
  RunOptions opts{.args = std::move(args)};
  if (!env.empty()) {
    std::vector<std::string> full = {"PATH=/usr/local/bin:/usr/bin:/bin"};
    full.insert(full.end(), env.begin(), env.end());
    opts.env = full;
  }
  Outcome o = RunProgram(QUORVALE_CMAKE, opts);
  ASSERT_EQ(o.exit_code, 0) << Describe(o) << "\n" << o.out;
}

std::string Line(std::string_view label, std::string_view value) {
  return std::string(label) + " " + std::string(value) + "\n";
}

TEST(BuildValuesTest, CommandLineValuesSurviveConfigureAndRebuild) {
  const std::string dir = QUORVALE_SCRATCH_DIR;
  fs::remove_all(dir);
  // Everything a cache entry can hold (it cannot hold a line feed or
  // trailing blanks: those values go in through a file).
  const std::string version =
      " \"q\" \\b\\ $HOME ${X} $(id) `id` @X@ a;b;;c #x */ // /* "
      "\x01\x1b\xff%s";
  const std::string revision = "\\";
  const std::string date = "';\"";
  CMake({"-S", QUORVALE_SOURCE_DIR, "-B", dir, "-G", "Ninja",
         std::string("-DCMAKE_CXX_COMPILER=") + QUORVALE_CXX,
         "-DQUORVALE_BUILD_TESTS=OFF", "-DQUORVALE_VERSION=" + version,
         "-DQUORVALE_GIT_COMMIT_HASH=" + revision,
         "-DQUORVALE_BUILD_DATE_TIME=" + date});
  CMake({"--build", dir, "--target", "quorvale"});
  const std::string expected = Line("Version ...........: ", version) +
                               Line("Git commit hash ...: ", revision) +
                               Line("Build date/time ...: ", date);
  Outcome o = RunProgram(dir + "/quorvale");
  EXPECT_EQ(o.exit_code, 0) << Describe(o);
  EXPECT_EQ(o.out, expected);

  // A reconfigure reads the values back from the cache unchanged.
  CMake({"-S", QUORVALE_SOURCE_DIR, "-B", dir});
  CMake({"--build", dir, "--target", "quorvale"});
  EXPECT_EQ(RunProgram(dir + "/quorvale").out, expected);

  // Unset, the date comes from SOURCE_DATE_EPOCH, read at build time.
  CMake({"-S", QUORVALE_SOURCE_DIR, "-B", dir, "-UQUORVALE_BUILD_DATE_TIME"});
  CMake({"--build", dir, "--target", "quorvale"},
        {"SOURCE_DATE_EPOCH=1651530486"});
  o = RunProgram(dir + "/quorvale");
  EXPECT_NE(o.out.find(Line("Build date/time ...: ", "20220502T222806Z")),
            std::string::npos)
      << o.out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvale::testing
