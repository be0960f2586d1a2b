// The command line: switches start with '-' or '/', their letter is
// case-insensitive. /S names the package file, /DEL marks the temporary copy
// made from a removable disk. Anything else is passed over.
#include "app/app.h"
#include "common/state.h"

namespace {

char upper(char c) {
  return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

const char* skip_spaces(const char* p) {
  while (*p == ' ') p++;
  return p;
}

// Reads one argument, quoted or not, into out (260 bytes); returns the
// position behind it. Characters past the 259th are passed over.
const char* read_argument(const char* p, char* out) {
  p = skip_spaces(p);
  size_t n = 0;
  char end = ' ';
  if (*p == '"') {
    end = '"';
    p++;
  }
  for (; *p && *p != end; p++)
    if (n < PATH_SIZE - 1) out[n++] = *p;
  out[n] = 0;
  if (end == '"' && *p == '"') p++;
  return p;
}

} // namespace

const char* program_arguments(const char* p) {
  if (!p) return "";
  if (*p == '"') {
    for (p++; *p && *p != '"'; p++) {
    }
    if (*p) p++;
  } else {
    while ((unsigned char)*p > ' ') p++;
  }
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

void parse_command_line(const char* p) {
  if (!p) return;
  p = skip_spaces(p);
  while (*p == '-' || *p == '/') {
    char letter = upper(p[1]);
    if (!letter) break; // a lone switch character ends the line
    p += 2;
    if (letter == 'D') {
      // /DEL, /del, /DELETE; the position stays behind the D.
      if (upper(p[0]) == 'E' && upper(p[1]) == 'L') g_app.temp_copy = true;
    } else if (letter == 'S') {
      if (g_app.package_path) p = read_argument(p, g_app.package_path);
    }
    while (*p && *p != ' ' && *p != '-' && *p != '/') p++;
    p = skip_spaces(p);
  }
}
