// Built-in texts: a complete set of string tables 0 to 10 per language, in
// UTF-8, with "{product}" standing for the product name. A project picks a set
// with `language = "en"` / `"de"` and may override any string.
//
// Which program part reads which string, and which strings the program
// formats with an argument, is listed in docs/project-file.md.
#pragma once
#include <string>
#include <vector>

namespace pakwiz {

enum { TEXT_TABLES = 11 };

struct TextSet {
  const char* code; // "en", "de"
  const char* name; // the language's own name: label on the language page
  // Tables 0..10; an absent table (8 and 10: the program never reads them) is
  // marked in `present`.
  std::vector<std::string> tables[TEXT_TABLES];
  bool present[TEXT_TABLES];
};

// The set for a language code (case ignored; "en"/"english", "de"/"german"/
// "deutsch"), or null.
const TextSet* find_text_set(const std::string& code);
// The codes accepted by find_text_set, for messages.
std::vector<std::string> text_set_codes();

// The uninstaller's texts for a set's code, in UTF-8 with "{product}", in the
// order of the uninstaller's data record (common/package_format.h); English
// for a code without its own. The project overrides them by name under
// [languages.uninstaller_texts]; UNINSTALLER_TEXT_FORMATTED marks the ones the
// uninstaller formats with the product name (%s).
enum { UNINSTALLER_TEXTS = 7 };
extern const char* const UNINSTALLER_TEXT_NAMES[UNINSTALLER_TEXTS];
extern const bool UNINSTALLER_TEXT_FORMATTED[UNINSTALLER_TEXTS];
const std::vector<std::string>& uninstaller_texts(const std::string& code);

// Strings that the setup program formats with one argument: the conversion it
// expects ('s' text or 'd' number), or 0 when the string is shown as it is.
// Message strings of table 6 that the program formats only when they contain
// "%s" report 'S'.
char expected_conversion(unsigned table, unsigned number);

// Checks a string against the conversion the program applies to it: empty
// when fine, else a description of the problem.
std::string check_conversion(const std::string& text, char expected);

} // namespace pakwiz
