// Text helpers shared by the whole setup program. All text is 8-bit ANSI and
// NUL-terminated. Helpers that write into a caller's buffer take its capacity
// in bytes (including the NUL) and never write past it: when the result would
// not fit they leave the buffer unchanged and return false.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The byte helpers (read_u16, read_u32, ...) come with the text helpers:
// most readers of package data need both.
#include "common/bytes.h"

// Path separator test: a backslash; on non-Windows builds (tests, tools) a
// forward slash counts as well, so that host paths work.
inline bool is_path_separator(char c) {
#ifdef _WIN32
  return c == '\\';
#else
  return c == '\\' || c == '/';
#endif
}

size_t text_length(const char* s);

// Copies src into dst (capacity cap). False, dst unchanged, if it does not fit.
bool text_copy(char* dst, size_t cap, const char* src);
// Appends src to dst (capacity cap). False, dst unchanged, if it does not fit.
bool text_append(char* dst, size_t cap, const char* src);
// Copies the texts, up to a null pointer, one behind the other into dst
// (capacity cap). False when they do not all fit; dst then holds the ones
// that fitted whole.
#if defined(__GNUC__)
__attribute__((sentinel))
#endif
bool text_concat(char* dst, size_t cap, ...);
// Copies at most cap - 1 characters and always terminates (for display texts).
void text_copy_cut(char* dst, size_t cap, const char* src);

// The last path separator in s, or null.
const char* last_separator(const char* s);

// If the path has a '.' after its last separator, everything from that '.' on
// is replaced by ext (which starts with its own '.'); otherwise ext is appended.
bool replace_extension(char* path, size_t cap, const char* ext);

// Appends a backslash when the text is not empty and does not end with one
// (or, off Windows, with a forward slash).
bool append_backslash(char* text, size_t cap);
// Removes a trailing backslash, only when the text has at least 4 characters
// (a drive root such as C:\ keeps it).
void remove_trailing_backslash(char* text);

// ANSI case folding (ASCII and the letters of Windows code page 1252) and
// comparisons that ignore case. Results are <0, 0, >0 like strcmp.
unsigned char fold_case(unsigned char c);
int compare_nocase(const char* a, const char* b);
int compare_nocase_n(const char* a, const char* b, size_t n);
bool equals_nocase(const char* a, const char* b);

// Formats a text of the package that takes one argument (a text or a number),
// as wsprintfA would, into out (capacity cap, always terminated, cut when
// longer). Conversions: %s, %d, %i, %u, %x, %X, %c and %% with optional
// '-', '0', width and precision. Package texts are not trusted: every
// conversion after the first gets nothing instead of reading a missing
// argument.
struct FormatArg {
  const char* text; // for %s (null = "(null)" is never printed: empty)
  long number;      // for the numeric conversions
};
void format_text(char* out, size_t cap, const char* format, FormatArg arg);
inline FormatArg text_arg(const char* s) {
  return FormatArg{s, 0};
}
inline FormatArg number_arg(long n) {
  return FormatArg{nullptr, n};
}
