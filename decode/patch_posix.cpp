// Patched files elsewhere (tests and tools): no progress page to report to.
#ifndef _WIN32
#include "decode/patch.h"

ProgressReport g_patch_progress = nullptr;
#endif
