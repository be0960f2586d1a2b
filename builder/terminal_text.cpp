#include "builder/terminal_text.h"

#include <stdint.h>
#include <stdio.h>

namespace pakwiz {

namespace {

// The code point of the valid UTF-8 sequence at text[i] and its length, or
// length 0 when the bytes there are no valid sequence.
uint32_t decode_at(const std::string& text, size_t i, size_t* length) {
  unsigned char c = (unsigned char)text[i];
  *length = 0;
  int extra;
  uint32_t cp;
  if (c < 0x80) {
    *length = 1;
    return c;
  } else if ((c & 0xE0) == 0xC0) {
    cp = c & 0x1F;
    extra = 1;
  } else if ((c & 0xF0) == 0xE0) {
    cp = c & 0x0F;
    extra = 2;
  } else if ((c & 0xF8) == 0xF0) {
    cp = c & 0x07;
    extra = 3;
  } else {
    return 0;
  }
  if (i + (size_t)extra >= text.size()) return 0;
  for (int k = 1; k <= extra; k++) {
    unsigned char d = (unsigned char)text[i + (size_t)k];
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  static const uint32_t SHORTEST[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < SHORTEST[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *length = (size_t)extra + 1;
  return cp;
}

bool needs_escape(uint32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  char buf[16];
  for (size_t i = 0; i < text.size();) {
    size_t length;
    uint32_t cp = decode_at(text, i, &length);
    if (length == 0) {
      snprintf(buf, sizeof buf, "\\x%02X", (unsigned)(unsigned char)text[i]);
      out += buf;
      i++;
      continue;
    }
    if (needs_escape(cp)) {
      snprintf(buf, sizeof buf, cp < 0x80 ? "\\x%02X" : "\\u%04X", (unsigned)cp);
      out += buf;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

} // namespace pakwiz
