// The native build has neither a registry nor INI lookups of an earlier
// installation: every lookup finds nothing, so the default install folder is
// the default text with its folder macros expanded.
#ifndef _WIN32
#include "package/default_folder.h"

bool read_registry_folder(uint32_t, const char*, const char*, char* out) {
  out[0] = 0;
  return false;
}

uint32_t read_ini_folder(const char*, const char*, const char*, const char*, char*) {
  return 0;
}

bool enter_current_folder(const char*) {
  return false;
}

bool find_stored_name(const char*, char*) {
  return false;
}

#endif
