// Stand-ins for the install driver's Win32 layer in the native build, where
// the driver's portable steps are tested: there is no system folder, fonts
// folder, SharedDLLs count or self-registration, so shared system files
// cannot be placed and the follow-up actions do nothing.
#ifndef _WIN32
#include "install/install.h"

bool resolve_shared_file(const char*, char* dest) {
  dest[0] = 0;
  return false;
}

bool fonts_folder(char*) {
  return false;
}

void count_shared_use(const char*) {}

void register_font(const char*) {}

void self_register(const char*) {}

#endif
