// The native build, where the file placement rules are tested, has no
// replacement at restart: nothing is scheduled there.
#ifndef _WIN32
#include "install/restart.h"

void schedule_replacement(const char*, const char*) {}

#endif
