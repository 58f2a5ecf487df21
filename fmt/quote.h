#ifndef QUORVALE_FMT_QUOTE_H_
#define QUORVALE_FMT_QUOTE_H_

#include <string>
#include <string_view>

namespace quorvale::fmt {

// Quote returns s as a double-quoted string literal, so that any bytes can
// stand inside a one-line message without changing what the reader sees:
//
//   Quote("a\"b\n") == R"("a\"b\n")"
//
// The double quote and the backslash get a backslash; line feed, tab and the
// other control characters with a C escape get it (\a \b \f \n \r \t \v);
// any other control byte and DEL become \xNN, as does every byte that is not
// part of a valid UTF-8 sequence. Valid UTF-8 is kept as it is, except the
// C1 controls, the line and paragraph separators, the zero-width characters,
// the byte-order mark and the text-direction controls, which become \uNNNN:
// each of them is invisible or rearranges the text around it.
std::string Quote(std::string_view s);

}  // namespace quorvale::fmt

#endif  // QUORVALE_FMT_QUOTE_H_
