#include "builder/ansi.h"

#include <stdint.h>

#include <cstdio>

#include "builder/errors.h"

namespace pakwiz {

// Code points of 0x80..0x9F in Windows-1252; 0 = undefined.
static const uint16_t HIGH_CONTROLS[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

static std::string code_point_name(uint32_t cp) {
  char buf[16];
  snprintf(buf, sizeof buf, "U+%04X", (unsigned)cp);
  return buf;
}

uint32_t utf8_decode_at(const std::string& text, size_t i, size_t* length) {
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

std::string to_ansi(const std::string& utf8, const std::string& what) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    size_t length;
    uint32_t cp = utf8_decode_at(utf8, i, &length);
    if (length == 0) fail(what + ": the text is not valid UTF-8");
    i += length;
    if (cp == 0) fail(what + ": the text holds a NUL character");
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += (char)cp;
      continue;
    }
    int code = -1;
    for (int k = 0; k < 32; k++)
      if (HIGH_CONTROLS[k] == cp) code = 0x80 + k;
    if (code < 0)
      fail(what + ": the character " + code_point_name(cp) +
           " cannot be written in the Windows-1252 character set of the setup program");
    out += (char)code;
  }
  return out;
}

static uint32_t code_point(unsigned char c) {
  if (c >= 0x80 && c < 0xA0) return HIGH_CONTROLS[c - 0x80] ? HIGH_CONTROLS[c - 0x80] : 0xFFFD;
  return c;
}

std::u16string ansi_to_utf16(const std::string& ansi) {
  std::u16string out;
  for (unsigned char c : ansi) out += (char16_t)code_point(c);
  return out;
}

std::string ansi_to_utf8(const std::string& ansi) {
  std::string out;
  for (unsigned char c : ansi) {
    uint32_t cp = code_point(c);
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | (cp >> 6));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xE0 | (cp >> 12));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

} // namespace pakwiz
