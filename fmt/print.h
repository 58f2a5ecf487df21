#ifndef QUORVALE_FMT_PRINT_H_
#define QUORVALE_FMT_PRINT_H_

#include <initializer_list>
#include <string_view>

#include "os/file.h"

namespace quorvale::fmt {

// Fprintln writes the operands to w as one line: each operand's bytes
// unchanged, one blank between two operands, a line feed after the last.
// The whole line goes to w.Write in a single call, whose results it
// returns; nothing is held back for a later call.
os::WriteResult Fprintln(os::File& w,
                         std::initializer_list<std::string_view> operands);

// Println is Fprintln on standard output.
//
//   fmt::Println({"Version ...........: ", Version});
inline os::WriteResult Println(
    std::initializer_list<std::string_view> operands) {
  return Fprintln(os::Stdout, operands);
}

}  // namespace quorvale::fmt

#endif  // QUORVALE_FMT_PRINT_H_
