// Extraction keeps every file inside the chosen folder, whatever target
// names a (possibly hand-made) package holds.
#include <gtest/gtest.h>

#include "builder/inspect.h"

using namespace pakwiz;

TEST(Extract, TargetNamesAreMadeSafe) {
  struct Case {
    const char* target;
    uint8_t destination;
    const char* expected; // "" = refused
  } cases[] = {
      {"readme.txt", 0, "readme.txt"},
      {"bin\\sub\\x.dll", 0, "bin/sub/x.dll"},
      {"\\abs\\x.txt", 0, "abs/x.txt"},
      {"C:\\Windows\\x.txt", 0, "Windows/x.txt"},
      {"\\\\server\\share\\x", 0, "server/share/x"},
      {".\\a\\.\\b", 0, "a/b"},
      {"..\\evil.txt", 0, ""},
      {"a\\..\\..\\evil.txt", 0, ""},
      {"a/../b", 0, ""},
      {"new\nline.txt", 0, ""}, // no Windows name holds a control character
      {"sub\\\x1b[2Jx.txt", 0, ""},
      {"", 0, ""},
      {"\\", 0, ""},
      {"drivers\\x.sys", 1, "Windows/drivers/x.sys"},
      {"sub\\shared.dll", 2, "System/shared.dll"}, // only the name counts for shared files
      {"f.ttf", 3, "Fonts/f.ttf"},
      {"Gr\xFC\xDF"
       "e.txt",
       0, "Grüße.txt"}, // Windows-1252 names become UTF-8
  };
  for (const Case& c : cases)
    EXPECT_EQ(safe_extract_path(c.target, c.destination), c.expected) << c.target;
}
