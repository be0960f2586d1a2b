// What the tools print for names and texts read from a package: nothing that
// a terminal would act on, nothing that starts a new line.
#include <gtest/gtest.h>

#include "builder/ansi.h"
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

// Project texts go through the same UTF-8 reading on their way to
// Windows-1252: what the listing escapes, the build refuses with the name of
// the text at fault.
TEST(TerminalText, TextsTheSetupProgramCannotShowAreRefusedByName) {
  struct Case {
    const char* utf8;
    const char* ansi; // nullptr: refused
    const char* why;
  } cases[] = {
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "Gr\xFC\xDF"
       "e",
       ""},
      {"\xE2\x82\xAC 5", "\x80 5", ""}, // the euro sign has a code of its own
      {"cut \xC3", nullptr, "not valid UTF-8"},
      {"overlong \xC0\x8A", nullptr, "not valid UTF-8"},
      {"surrogate \xED\xA0\x80", nullptr, "not valid UTF-8"},
      {"lone \x9B", nullptr, "not valid UTF-8"},
      {"\xE2\x82\xB9", nullptr, "U+20B9 cannot be written"},
  };
  for (const Case& c : cases) {
    if (c.ansi) {
      EXPECT_EQ(pakwiz::to_ansi(c.utf8, "texts.welcome"), c.ansi) << c.ansi;
      continue;
    }
    try {
      pakwiz::to_ansi(c.utf8, "texts.welcome");
      ADD_FAILURE() << "accepted: " << printable(c.utf8);
    } catch (const std::exception& e) {
      std::string message = e.what();
      EXPECT_NE(message.find("texts.welcome"), std::string::npos) << message;
      EXPECT_NE(message.find(c.why), std::string::npos) << message;
    }
  }
  EXPECT_THROW(pakwiz::to_ansi(std::string("a\0b", 3), "texts.welcome"), std::exception);
}
