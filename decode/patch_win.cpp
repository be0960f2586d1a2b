// Patched files on Windows: progress goes to the progress page.
#include "decode/patch.h"
#include "ui/ui.h"

ProgressReport g_patch_progress = report_progress;
