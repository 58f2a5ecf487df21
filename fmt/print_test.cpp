#include "fmt/print.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvale::fmt {
namespace {

std::vector<std::string> calls;  // what each write call was given

ssize_t Capture(int, const void* buf, std::size_t count) {
  calls.emplace_back(static_cast<const char*>(buf), count);
  return static_cast<ssize_t>(count);
}

// Only write is ever called: a line that the call takes whole.
constexpr os::Syscalls kCapture = {Capture, nullptr, nullptr,
                                   nullptr, nullptr, nullptr};

struct Case {
  const char* name;
  std::vector<std::string> operands;
  std::string line;
};

class FprintlnTest : public ::testing::TestWithParam<Case> {};

TEST_P(FprintlnTest, BuildsTheLineAndWritesItInOneCall) {
  const Case& c = GetParam();
  calls.clear();
  os::File out(9, "capture", &kCapture);
  std::vector<std::string_view> ops(c.operands.begin(), c.operands.end());
  os::WriteResult r;
  switch (ops.size()) {
    case 0:
      r = Fprintln(out, {});
      break;
    case 1:
      r = Fprintln(out, {ops[0]});
      break;
    case 2:
      r = Fprintln(out, {ops[0], ops[1]});
      break;
    default:
      FAIL() << "table has too many operands";
  }
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], c.line);
  EXPECT_EQ(r.n, c.line.size());
  EXPECT_FALSE(r.err);
}

const std::string kLong(10000, 'x');
using namespace std::string_literals;
const std::string kOddBytes = "\xff\xfe\x00\x01\t\r\n \"\\%s%d*/"s;

INSTANTIATE_TEST_SUITE_P(
    Lines, FprintlnTest,
    ::testing::Values(
        Case{"Label",
             {"Version ...........: ", "0.0.2"},
             "Version ...........:  0.0.2\n"},
        Case{"EmptyValue",
             {"Version ...........: ", ""},
             "Version ...........:  \n"},
        Case{"BothEmpty", {"", ""}, " \n"}, Case{"NoOperands", {}, "\n"},
        Case{"OneOperand", {"abc"}, "abc\n"},
        // Bytes are copied, never quoted, escaped or checked as UTF-8; a
        // NUL does not end an operand.
        Case{"OddBytes",
             {kOddBytes, kOddBytes},
             kOddBytes + " " + kOddBytes + "\n"},
        // Longer than the stack buffer: still one line, one call.
        Case{"Long", {kLong, kLong}, kLong + " " + kLong + "\n"},
        // The stack buffer holds 256 bytes: a line of exactly that size
        // and one a byte longer.
        Case{"FillsStackBuffer",
             {std::string(127, 'a'), std::string(127, 'b')},
             std::string(127, 'a') + " " + std::string(127, 'b') + "\n"},
        Case{"JustOverStackBuffer",
             {std::string(128, 'a'), std::string(127, 'b')},
             std::string(128, 'a') + " " + std::string(127, 'b') + "\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FprintlnErrorTest, ReturnsTheWritesFailure) {
  os::File closed(-1, "closed");
  os::WriteResult r = Fprintln(closed, {"a", "b"});
  EXPECT_TRUE(r.err);
  EXPECT_EQ(r.n, 0u);
}

}  // namespace
}  // namespace quorvale::fmt
