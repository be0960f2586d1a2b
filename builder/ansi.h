// Texts of the setup program are 8-bit ANSI in the Windows-1252 character
// set; project files and terminals speak UTF-8. The functions below convert.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace pakwiz {

// UTF-8 -> Windows-1252. Throws BuildError naming `what` when the text is not
// valid UTF-8, holds a NUL, or holds a character that Windows-1252 lacks.
std::string to_ansi(const std::string& utf8, const std::string& what);

// The code point of the valid UTF-8 sequence at text[i] and its length, or
// length 0 when the bytes there are no valid sequence (a bad lead or
// continuation byte, a cut sequence, an overlong form, a surrogate, or a value
// past U+10FFFF).
uint32_t utf8_decode_at(const std::string& text, size_t i, size_t* length);

// Windows-1252 -> UTF-8 (for listings). Never fails: the five codes that
// Windows-1252 leaves undefined come out as U+FFFD.
std::string ansi_to_utf8(const std::string& ansi);

// Windows-1252 -> UTF-16 (for version resources), likewise.
std::u16string ansi_to_utf16(const std::string& ansi);

} // namespace pakwiz
