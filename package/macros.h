// Folder macros: tokens between two '#' in package texts, replaced by values
// known only on the target machine. The expander sits with the package
// because the loader needs it for the default install folder; the install
// layer uses it for list values and file references.
//
//   #Windows#        the Windows folder
//   #System#         the system folder
//   #Program Files#  HKLM\Software\Microsoft\Windows\CurrentVersion ProgramFilesDir
//   (a folder that cannot be had leaves its token in the text: on Windows only
//   the registry value can be missing; the native build has none of the three)
//   #InstallDir#     the current install folder
//   #SourceDir#      the package file's folder
//   #Date#           today's date in UTC as yyyymmdd
//   anything else    removed (also "##")
//
// Tokens are compared without regard to case. A value of 4 characters or more
// loses a trailing backslash (C:\ keeps it); values are not scanned again. An
// unmatched '#' stays with the rest of the text.
#pragma once
#include <stdint.h>

enum { MACRO_WORK_SIZE = 65500 };

// Expands `text` into `out` (capacity out_size; may be the buffer holding the
// text). Returns the length of the expansion without its NUL; with no output
// buffer or out_size 0 only the length is computed. A result longer than
// out_size - 1 is cut to fit with its NUL; an empty result leaves `out`
// untouched. The expansion is built in a 65,500-byte work buffer: whatever
// lies beyond 65,499 characters is dropped and the length returned is that of
// the part kept, so that asking for the length first and then expanding into
// length + 1 bytes always gives the same text. Without memory for the work
// buffer the text is copied unexpanded.
uint32_t expand_folder_macros(char* out, const char* text, uint32_t out_size);

// Platform values of the tokens (macros_win.cpp, macros_posix.cpp).
enum MacroFolder { MACRO_WINDOWS = 0, MACRO_SYSTEM = 1, MACRO_PROGRAM_FILES = 2 };
// The folder into `out` (capacity 260); false when it cannot be had.
bool macro_folder(int which, char* out, uint32_t cap);
// Today's date in UTC.
void macro_utc_date(unsigned* year, unsigned* month, unsigned* day);
