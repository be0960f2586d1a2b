#include "common/text.h"

#include <stdarg.h>

size_t text_length(const char* s) {
  size_t n = 0;
  while (s[n]) n++;
  return n;
}

bool text_copy(char* dst, size_t cap, const char* src) {
  size_t n = text_length(src);
  if (n >= cap) return false;
  for (size_t i = 0; i <= n; i++) dst[i] = src[i];
  return true;
}

bool text_append(char* dst, size_t cap, const char* src) {
  size_t have = text_length(dst);
  if (have >= cap) return false;
  size_t n = text_length(src);
  if (n >= cap - have) return false;
  for (size_t i = 0; i <= n; i++) dst[have + i] = src[i];
  return true;
}

bool text_concat(char* dst, size_t cap, ...) {
  if (cap == 0) return false;
  dst[0] = 0;
  va_list parts;
  va_start(parts, cap);
  bool fits = true;
  while (const char* part = va_arg(parts, const char*))
    if (!(fits = text_append(dst, cap, part))) break;
  va_end(parts);
  return fits;
}

void text_copy_cut(char* dst, size_t cap, const char* src) {
  if (cap == 0) return;
  size_t i = 0;
  for (; i + 1 < cap && src[i]; i++) dst[i] = src[i];
  dst[i] = 0;
}

const char* last_separator(const char* s) {
  const char* found = nullptr;
  for (; *s; s++)
    if (is_path_separator(*s)) found = s;
  return found;
}

bool replace_extension(char* path, size_t cap, const char* ext) {
  const char* sep = last_separator(path);
  char* dot = nullptr;
  for (char* p = sep ? (char*)sep + 1 : path; *p; p++)
    if (*p == '.') dot = p; // the '.' that starts the extension (the last one)
  size_t keep = dot ? (size_t)(dot - path) : text_length(path);
  size_t n = text_length(ext);
  if (keep + n >= cap) return false;
  for (size_t i = 0; i <= n; i++) path[keep + i] = ext[i];
  return true;
}

bool append_backslash(char* text, size_t cap) {
  size_t n = text_length(text);
  if (n == 0 || is_path_separator(text[n - 1])) return true;
  if (n + 2 > cap) return false;
  text[n] = '\\';
  text[n + 1] = 0;
  return true;
}

void remove_trailing_backslash(char* text) {
  size_t n = text_length(text);
  if (n >= 4 && text[n - 1] == '\\') text[n - 1] = 0;
}

unsigned char fold_case(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return (unsigned char)(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return (unsigned char)(c + 32);
  if (c == 0x8A || c == 0x8C || c == 0x8E) return (unsigned char)(c + 16);
  if (c == 0x9F) return 0xFF;
  return c;
}

int compare_nocase_n(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    unsigned char x = fold_case((unsigned char)a[i]), y = fold_case((unsigned char)b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}

int compare_nocase(const char* a, const char* b) {
  return compare_nocase_n(a, b, (size_t)-1);
}

bool equals_nocase(const char* a, const char* b) {
  return compare_nocase(a, b) == 0;
}

namespace {
bool strchr_simple(const char* set, char c) {
  for (; *set; set++)
    if (*set == c) return true;
  return false;
}

struct Out {
  char* p;
  size_t cap, n;
  void put(char c) {
    if (n + 1 < cap) p[n++] = c;
  }
  void repeat(char c, size_t count) {
    while (count--) put(c);
  }
};
} // namespace

void format_text(char* out, size_t cap, const char* format, FormatArg arg) {
  if (cap == 0) return;
  Out o{out, cap, 0};
  bool used = false;
  for (const char* f = format; *f; f++) {
    if (*f != '%') {
      o.put(*f);
      continue;
    }
    const char* start = f++;
    if (*f == '%') {
      o.put('%');
      continue;
    }
    bool left = false, zero = false;
    for (; *f == '-' || *f == '0'; f++) (*f == '-' ? left : zero) = true;
    int width = 0, precision = -1;
    for (; *f >= '0' && *f <= '9'; f++) width = width < 1000 ? width * 10 + (*f - '0') : width;
    if (*f == '.') {
      precision = 0;
      for (f++; *f >= '0' && *f <= '9'; f++)
        precision = precision < 1000 ? precision * 10 + (*f - '0') : precision;
    }
    if (*f == 'l' || *f == 'h') f++;
    char conv = *f;
    if (!conv || !strchr_simple("sdiuxXc", conv)) {
      // Not a conversion: copied as it stands.
      for (const char* c = start; c <= f && *c; c++) o.put(*c);
      if (!*f) break;
      continue;
    }
    if (used) continue; // only one argument exists
    used = true;
    char digits[40];
    const char* body = digits;
    size_t len = 0;
    bool negative = false;
    if (conv == 's') {
      body = arg.text ? arg.text : "";
      len = text_length(body);
      if (precision >= 0 && (size_t)precision < len) len = (size_t)precision;
    } else if (conv == 'c') {
      digits[0] = (char)arg.number;
      len = 1;
    } else {
      unsigned long v;
      unsigned base = (conv == 'x' || conv == 'X') ? 16 : 10;
      if ((conv == 'd' || conv == 'i') && arg.number < 0) {
        negative = true;
        v = 0UL - (unsigned long)arg.number;
      } else {
        v = (conv == 'd' || conv == 'i') ? (unsigned long)arg.number
                                         : (unsigned long)(uint32_t)arg.number;
      }
      const char* set = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
      // Digits from the end of the buffer backwards.
      char* d = digits + sizeof digits;
      do {
        *--d = set[v % base];
        v /= base;
      } while (v);
      while (digits + sizeof digits - d < precision && d > digits) *--d = '0';
      body = d;
      len = (size_t)(digits + sizeof digits - d);
    }
    size_t total = len + (negative ? 1 : 0);
    size_t pad = (size_t)width > total ? (size_t)width - total : 0;
    if (!left && !zero) o.repeat(' ', pad);
    if (negative) o.put('-');
    if (!left && zero) o.repeat('0', pad);
    for (size_t i = 0; i < len; i++) o.put(body[i]);
    if (left) o.repeat(' ', pad);
  }
  out[o.n] = 0;
}
