// The command line: switches start with '-' or '/', their letter is
// case-insensitive. /S names the package file, /DEL marks the temporary copy
// made from a removable disk; /Q, /L=n, /LOG=file, /? and /D=folder (the rest
// of the line, spaces and all) ask for an unattended run. Anything else is
// passed over, and the first word that is no switch ends the line.
#include "app/app.h"
#include "common/state.h"
#include "common/text.h"

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

// /L=n: a block number (up to 999) and nothing else.
const char* read_language(const char* p) {
  int n = 0;
  const char* start = p;
  for (; *p >= '0' && *p <= '9' && n < 1000; p++) n = 10 * n + (*p - '0');
  if (p == start || n >= 1000 || (*p && *p != ' ' && *p != '-' && *p != '/'))
    g_app.bad_switch = true;
  else
    g_app.language = n;
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
  g_app.language = -1;
  if (!p) return;
  p = skip_spaces(p);
  while (*p == '-' || *p == '/') {
    char letter = upper(p[1]);
    if (!letter) break; // a lone switch character ends the line
    p += 2;
    if (letter == 'D') {
      // /D=folder takes the rest of the line: a folder name may hold spaces
      // and dashes, so nothing behind it can be a switch.
      if (*p == '=') {
        g_app.folder_switch = p + 1;
        return;
      }
      // /DEL, /del, /DELETE; the position stays behind the D.
      if (upper(p[0]) == 'E' && upper(p[1]) == 'L') g_app.temp_copy = true;
    } else if (letter == 'S') {
      if (g_app.package_path) p = read_argument(p, g_app.package_path);
    } else if (letter == 'Q') {
      g_app.quiet = true;
    } else if (letter == '?') {
      g_app.help = true;
    } else if (letter == 'L' && *p == '=') {
      p = read_language(p + 1);
    } else if (letter == 'L' && compare_nocase_n(p, "OG=", 3) == 0) {
      p += 3;
      if (*p != ' ' && *p) p = read_argument(p, g_app.log_path);
      if (!g_app.log_path[0]) g_app.bad_switch = true;
    }
    while (*p && *p != ' ' && *p != '-' && *p != '/') p++;
    p = skip_spaces(p);
  }
}
