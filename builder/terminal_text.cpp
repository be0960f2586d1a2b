#include "builder/terminal_text.h"

#include <stdint.h>
#include <stdio.h>

#include "builder/ansi.h"

namespace pakwiz {

namespace {

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
    uint32_t cp = utf8_decode_at(text, i, &length);
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
