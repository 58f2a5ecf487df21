#include "fmt/print.h"

#include <array>
#include <cstring>
#include <string>

namespace quorvale::fmt {

namespace {

// Lines up to this size are built on the stack; longer ones on the heap.
constexpr std::size_t kStackLine = 256;

std::size_t LineSize(std::initializer_list<std::string_view> operands) {
  std::size_t size = operands.size();  // the blanks and the line feed
  for (std::string_view op : operands) size += op.size();
  return size == 0 ? 1 : size;
}

void BuildLine(std::initializer_list<std::string_view> operands, char* out) {
  bool first = true;
  for (std::string_view op : operands) {
    if (!first) *out++ = ' ';
    first = false;
    if (!op.empty()) std::memcpy(out, op.data(), op.size());
    out += op.size();
  }
  *out = '\n';
}

}  // namespace

os::WriteResult Fprintln(os::File& w,
                         std::initializer_list<std::string_view> operands) {
  const std::size_t size = LineSize(operands);
  if (size <= kStackLine) {
    std::array<char, kStackLine> line;
    BuildLine(operands, line.data());
    return w.Write({line.data(), size});
  }
  std::string line(size, '\0');
  BuildLine(operands, line.data());
  return w.Write(line);
}

}  // namespace quorvale::fmt
