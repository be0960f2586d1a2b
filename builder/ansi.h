// Texts of the setup program are 8-bit ANSI in the Windows-1252 character
// set; project files and terminals speak UTF-8. These two functions convert.
#pragma once
#include <string>

namespace pakwiz {

// UTF-8 -> Windows-1252. Throws BuildError naming `what` when the text is not
// valid UTF-8, holds a NUL, or holds a character that Windows-1252 lacks.
std::string to_ansi(const std::string& utf8, const std::string& what);

// Windows-1252 -> UTF-8 (for listings). Never fails: the five codes that
// Windows-1252 leaves undefined come out as U+FFFD.
std::string ansi_to_utf8(const std::string& ansi);

// Windows-1252 -> UTF-16 (for version resources), likewise.
std::u16string ansi_to_utf16(const std::string& ansi);

} // namespace pakwiz
