#include "fmt/quote.h"

#include <string>

#include <gtest/gtest.h>

namespace quorvale::fmt {
namespace {

struct Case {
  const char* name;
  std::string in;
  std::string out;
};

class QuoteTest : public ::testing::TestWithParam<Case> {};

TEST_P(QuoteTest, MatchesTheLiteral) {
  EXPECT_EQ(Quote(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuoteTest,
    ::testing::Values(
        Case{"Empty", "", R"("")"}, Case{"Plain", "sqlite3", R"("sqlite3")"},
        Case{"BlanksKept", " a b ", R"(" a b ")"},
        Case{"QuoteAndBackslash", "a\"b\\c", R"("a\"b\\c")"},
        Case{"CEscapes", "\a\b\f\n\r\t\v", R"("\a\b\f\n\r\t\v")"},
        Case{"OtherControls", std::string("\0\x01\x1b\x1f\x7f", 5),
             R"("\x00\x01\x1b\x1f\x7f")"},
        Case{"ValidUtf8Kept", "caf\u00e9 \u65e5\u672c \U0001F600",
             "\"caf\u00e9 \u65e5\u672c \U0001F600\""},
        Case{"InvalidBytes", "\xff\xfe", R"("\xff\xfe")"},
        Case{"StrayContinuation", "a\x80z", R"("a\x80z")"},
        Case{"CutShort", "\xe6\x97", R"("\xe6\x97")"},
        Case{"CutShortThenAscii", "\xe6\x97z", R"("\xe6\x97z")"},
        Case{"Overlong", "\xc0\xaf", R"("\xc0\xaf")"},
        Case{"Surrogate", "\xed\xa0\x80", R"("\xed\xa0\x80")"},
        Case{"BeyondUnicode", "\xf4\x90\x80\x80", R"("\xf4\x90\x80\x80")"},
        Case{"C1Control", "\u0085", R"("\u0085")"},
        Case{"DirectionOverride", "ab\u202ecd", R"("ab\u202ecd")"},
        Case{"LineSeparator", "\u2028", R"("\u2028")"},
        Case{"ZeroWidthAndBom", "\u200b\ufeff", R"("\u200b\ufeff")"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvale::fmt
