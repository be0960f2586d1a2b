// The install folder that the destination page proposes for a language
// block: the folder of an earlier installation when the language record
// names where it was recorded (a registry value, or an INI entry), trimmed
// back to the longest part that still exists and corrected to the names
// stored on disk; otherwise the record's default text with its folder macros
// expanded (macros are expanded only there: recorded folders are used as
// they are).
#pragma once
#include <stdint.h>

#include "package/package.h"

// Leaves the result in g_app.install_folder. A record without a default text
// starts from the install folder's present content (the previous record's
// result). Uses g_app.temp_path as scratch.
void compute_default_install_folder(const LanguageRecord* language);

// Replaces each component of an existing path by its name as stored on disk
// (long name, stored case), in place (capacity 260). A path ending with a
// backslash loses it; a bare drive root, or a path of which some component
// cannot be found, is left unchanged.
void correct_folder_name(char* path);

// Platform layer (default_folder_win.cpp; default_folder_posix.cpp, where no
// registry or INI file exists, so only the default text is expanded there).
// The value into `out` (capacity 260); false when the key cannot be opened.
// Root indexes 4 to 15 name no root key: the value counts as not found.
bool read_registry_folder(uint32_t root, const char* key, const char* value, char* out);
// GetPrivateProfileStringA with `fallback` as default; the length read.
uint32_t read_ini_folder(const char* file, const char* section, const char* key,
                         const char* fallback, char* out);
// Makes `path` the process's current folder; false when it is no folder.
bool enter_current_folder(const char* path);
// The stored name of the last component of `path` into `name` (capacity
// 260); false when nothing is found.
bool find_stored_name(const char* path, char* name);
