// The program's standard output, status and silence on a normal run.

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "tests/process.h"

namespace quorvale::testing {
namespace {

constexpr std::string_view kVersionLabel = "Version ...........: ";
constexpr std::string_view kRevisionLabel = "Git commit hash ...: ";
constexpr std::string_view kDateLabel = "Build date/time ...: ";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Expected(std::string_view version, std::string_view revision,
                     std::string_view date) {
  std::string s;
  for (auto [label, value] : {std::pair{kVersionLabel, version},
                              {kRevisionLabel, revision},
                              {kDateLabel, date}}) {
    s.append(label).append(" ").append(value).append("\n");
  }
  return s;
}

// The revision of the source tree, as git reports it, or "" outside git.
std::string SourceRevision() {
  Outcome o =
      RunProgram("/usr/bin/git",
                 {.args = {"-C", QUORVALE_SOURCE_DIR, "rev-parse", "HEAD"}});
  if (o.exit_code != 0 || o.out.size() != 41) return "";
  return o.out.substr(0, 40);
}

TEST(ProgramTest, NormalRunPrintsTheThreeLinesAndNothingElse) {
  Outcome o = RunProgram(QUORVALE_BIN);
  EXPECT_EQ(o.exit_code, 0) << Describe(o);
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.err, "");

  // The shape holds for any version; the build's own values give 130 bytes.
  std::smatch m;
  static const std::regex kShape(
      "Version \\.{11}:  (.*)\n"
      "Git commit hash \\.{3}:  ([0-9a-f]{40}|unknown)\n"
      "Build date/time \\.{3}:  (\\d{8}T\\d{6}Z)\n");
  ASSERT_TRUE(std::regex_match(o.out, m, kShape)) << o.out;
  if (m[1] == "0.0.2" && m[2].length() == 40) {
    EXPECT_EQ(o.out.size(), 130u);
  }
  // The revision is read when the program is built: the build this test
  // belongs to ran at the source tree's current commit.
  if (std::string head = SourceRevision(); !head.empty()) {
    EXPECT_EQ(m[2], head);
  }
}

TEST(ProgramTest, ArgumentsAndInputChangeNothing) {
  const Outcome plain = RunProgram(QUORVALE_BIN);
  for (const RunOptions& opts :
       {RunOptions{.args = {"--help"}},
        RunOptions{.args = {"-v", "--version", "x y", ""}},
        RunOptions{.input = "sqlite3\n--help\n"},
        RunOptions{.args = {"-"}, .input = std::string(100000, 'z')}}) {
    Outcome o = RunProgram(QUORVALE_BIN, opts);
    EXPECT_EQ(o.out, plain.out);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.exit_code, 0) << Describe(o);
  }
}

TEST(ProgramTest, ValuesArePrintedByteForByte) {
  // The test-values build carries bytes that no layer may touch: blanks,
  // tabs, line feeds, quotes, backslashes, shell and CMake syntax, comment
  // markers, control bytes and invalid UTF-8; its revision is empty.
  const std::string version = Slurp(QUORVALE_TEST_DATA "/version_hostile");
  const std::string date = Slurp(QUORVALE_TEST_DATA "/date_hostile");
  ASSERT_NE(version.find('\n'), std::string::npos);
  ASSERT_NE(version.find('\xff'), std::string::npos);

  Outcome o = RunProgram(QUORVALE_TEST_VALUES_BIN);
  EXPECT_EQ(o.exit_code, 0) << Describe(o);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out, Expected(version, "", date));
  // The empty revision's line: label, one blank, line feed.
  EXPECT_NE(o.out.find("\nGit commit hash ...:  \n"), std::string::npos);
}

TEST(ProgramTest, EnvironmentChangesNothing) {
  Outcome with_env = RunProgram(QUORVALE_BIN);
  Outcome bare = RunProgram(QUORVALE_BIN, {.env = std::vector<std::string>{}});
  EXPECT_EQ(bare.out, with_env.out);
  EXPECT_EQ(bare.exit_code, 0) << Describe(bare);
}

TEST(ProgramTest, ReturnFromMainEndsTheProcessAtOnce) {
  // main's status stands; no exit handler or destructor runs, and the
  // thread still running is not waited for.
  Outcome o = RunProgram(QUORVALE_EXIT_PROBE_BIN);
  EXPECT_EQ(o.exit_code, 3) << Describe(o);
  EXPECT_EQ(o.err, "");
}

}  // namespace
}  // namespace quorvale::testing
