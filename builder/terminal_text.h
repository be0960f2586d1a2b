// Text bound for a terminal. Names read from a package (and paths given on
// the command line) may hold anything; printed raw, a newline would forge a
// line of a listing and an escape sequence would reach the terminal. These
// functions show such characters as visible escapes instead:
//
//   control characters U+0000 to U+001F and U+007F   \xHH   (a newline: \x0A)
//   C1 controls U+0080 to U+009F, U+2028, U+2029,
//   and the bidirectional overrides and isolates      \uHHHH
//   a byte that is not part of valid UTF-8           \xHH   (the byte)
//
// A backslash stays as it is: it separates the folders of every Windows
// name, and such names are most of what is printed.
#pragma once
#include <string>

namespace pakwiz {

// `text` (UTF-8, or anything) with every character above escaped.
std::string printable(const std::string& text);

} // namespace pakwiz
