// The portable parts of opening a document: the file class lookup key and
// the command built from a registered open command.
#include "common/text.h"
#include "install/restart.h"

const char* document_extension(const char* path) {
  const char* dot = nullptr;
  for (const char* p = path; *p; p++)
    if (*p == '.') dot = p;
  return dot ? dot : ".";
}

bool build_open_command(char* out, uint32_t cap, const char* registered, const char* path) {
  if (!text_copy(out, cap, registered)) return false;
  char* cut = nullptr;
  for (char* p = out; *p && !cut; p++)
    if (p[0] == '"' && p[1] == '%' && p[2] == '1' && p[3] == '"') cut = p;
  for (char* p = out; *p && !cut; p++)
    if (p[0] == '%' && p[1] == '1') cut = p;
  if (cut) *cut = 0;
  // Quoted, so that a path with spaces reaches the program as one argument.
  return text_append(out, cap, " \"") && text_append(out, cap, path) && text_append(out, cap, "\"");
}
