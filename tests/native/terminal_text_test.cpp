// What the tools print for names and texts read from a package: nothing that
// a terminal would act on, nothing that starts a new line.
#include <gtest/gtest.h>

#include "builder/terminal_text.h"

using pakwiz::printable;

TEST(TerminalText, ControlsAndBrokenUtf8BecomeVisibleEscapes) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"plain.txt", "plain.txt"},
      {"bin\\data.bin", "bin\\data.bin"}, // folder separators stay
      {"Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC"}, // printable UTF-8 stays
      {"a\nb\r\tc", "a\\x0Ab\\x0D\\x09c"},
      {"\x1B[2J\x1B]0;t\x07", "\\x1B[2J\\x1B]0;t\\x07"},
      {"del\x7F", "del\\x7F"},
      {"csi\xC2\x9B"
       "1m",
       "csi\\u009B1m"}, // a C1 control, as UTF-8
      {"\xE2\x80\xAE"
       "txt.exe",
       "\\u202Etxt.exe"}, // a right-to-left override
      {"line\xE2\x80\xA8sep", "line\\u2028sep"},
      {"raw\x9B"
       "1m",
       "raw\\x9B1m"}, // a lone byte that is no UTF-8
      {"\xFF\xFE", "\\xFF\\xFE"},
      {"cut \xC3", "cut \\xC3"},
      {"overlong \xC0\x8A", "overlong \\xC0\\x8A"},
      {"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(printable(c.text), c.shown) << c.shown;
  EXPECT_EQ(printable(std::string("nul\0x", 5)), "nul\\x00x");
}
