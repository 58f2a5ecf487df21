#include "fmt/quote.h"

#include <cstdint>

namespace quorvale::fmt {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char b) {
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 0xf];
}

// The length of the valid UTF-8 sequence at the front of s and its code
// point, or 0 when s does not start with one (stray continuation byte,
// overlong form, surrogate, beyond U+10FFFF, cut short).
std::size_t DecodeRune(std::string_view s, char32_t& rune) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(s[i]);
  };
  const unsigned char b0 = byte(0);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    rune = b0;
    return 1;
  } else if ((b0 & 0xe0) == 0xc0) {
    len = 2, min = 0x80, rune = b0 & 0x1f;
  } else if ((b0 & 0xf0) == 0xe0) {
    len = 3, min = 0x800, rune = b0 & 0x0f;
  } else if ((b0 & 0xf8) == 0xf0) {
    len = 4, min = 0x10000, rune = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    rune = (rune << 6) | (byte(i) & 0x3f);
  }
  if (rune < min || rune > 0x10ffff || (rune >= 0xd800 && rune <= 0xdfff)) {
    return 0;
  }
  return len;
}

// Code points beyond ASCII that a reader cannot see, or that reorder or
// break the text around them.
bool IsHiddenRune(char32_t r) {
  return (r >= 0x80 && r <= 0x9f) ||      // C1 controls
         r == 0xad ||                     // soft hyphen
         (r >= 0x200b && r <= 0x200f) ||  // zero-width, LRM, RLM
         (r >= 0x2028 && r <= 0x202e) ||  // separators, embeddings
         (r >= 0x2060 && r <= 0x2064) ||  // word joiner, invisible operators
         (r >= 0x2066 && r <= 0x206f) ||  // isolates, deprecated formats
         r == 0xfeff;                     // byte-order mark
}

}  // namespace

std::string Quote(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  while (!s.empty()) {
    char32_t rune = 0;
    const std::size_t len = DecodeRune(s, rune);
    if (len == 0) {
      AppendHexByte(out, static_cast<unsigned char>(s[0]));
      s.remove_prefix(1);
      continue;
    }
    switch (rune) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\a':
        out += "\\a";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\v':
        out += "\\v";
        break;
      default:
        if (rune < 0x20 || rune == 0x7f) {
          AppendHexByte(out, static_cast<unsigned char>(rune));
        } else if (IsHiddenRune(rune)) {
          out += "\\u";
          for (int shift = 12; shift >= 0; shift -= 4) {
            out += kHex[(rune >> shift) & 0xf];
          }
        } else {
          out.append(s.substr(0, len));
        }
    }
    s.remove_prefix(len);
  }
  out += '"';
  return out;
}

}  // namespace quorvale::fmt
