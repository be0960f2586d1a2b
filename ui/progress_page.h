// Helpers of the progress page that tests reach directly.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Shortens a path longer than `limit` characters in place: the longest run of
// leading folders that fits, "...", then the last backslash and the file
// name ("C:\Program Files\Some Dir\Sub\file.txt" becomes
// "C:\Program Files\...\file.txt"). A path without two backslashes at least
// 4 characters apart stays as it is; the result can exceed the limit when the
// file name alone is long.
void compact_path(char* path, size_t limit);

// The last reported percentage (0..100).
uint32_t progress_percent();
