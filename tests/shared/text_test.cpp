#include <gtest/gtest.h>

#include <string.h>

#include "common/text.h"

TEST(ReplaceExtension, ReplacesFromTheLastDotAfterTheLastBackslash) {
  struct Case {
    const char* path;
    const char* ext;
    const char* expected;
  } cases[] = {
      {"A:\\SETUP.EXE", ".D02", "A:\\SETUP.D02"},
      {"A:\\SETUP", ".D02", "A:\\SETUP.D02"},
      {"A:\\DIR.X\\SETUP", ".D02", "A:\\DIR.X\\SETUP.D02"},
      {"C:\\A\\FILE.DLL", ".$$A", "C:\\A\\FILE.$$A"},
      {"C:\\A\\archive.tar.gz", ".$$A", "C:\\A\\archive.tar.$$A"},
      {"name", ".x", "name.x"},
  };
  for (const Case& c : cases) {
    char buf[64];
    strcpy(buf, c.path);
    EXPECT_TRUE(replace_extension(buf, sizeof buf, c.ext));
    EXPECT_STREQ(buf, c.expected) << c.path;
  }
}

TEST(ReplaceExtension, RefusesToOverflowAndLeavesThePathUnchanged) {
  char buf[12] = "C:\\abc.exe";
  EXPECT_FALSE(replace_extension(buf, sizeof buf, ".D1000")); // 12 characters + NUL
  EXPECT_STREQ(buf, "C:\\abc.exe");
  EXPECT_TRUE(replace_extension(buf, sizeof buf, ".D100")); // 11 characters + NUL fit
  EXPECT_STREQ(buf, "C:\\abc.D100");
}

TEST(FolderEnds, BackslashRulesKeepDriveRoots) {
  char buf[16];
  struct Case {
    const char* in;
    const char* appended;
    const char* removed;
  } cases[] = {
      {"", "", ""},
      {"C:", "C:\\", "C:"},
      {"C:\\", "C:\\", "C:\\"},
      {"C:\\A\\", "C:\\A\\", "C:\\A"},
      {"C:\\A", "C:\\A\\", "C:\\A"},
      {"AB\\", "AB\\", "AB\\"}, // 3 characters: kept
  };
  for (const Case& c : cases) {
    strcpy(buf, c.in);
    EXPECT_TRUE(append_backslash(buf, sizeof buf));
    EXPECT_STREQ(buf, c.appended) << c.in;
    strcpy(buf, c.in);
    remove_trailing_backslash(buf);
    EXPECT_STREQ(buf, c.removed) << c.in;
  }
  char full[4] = "C:A";
  EXPECT_FALSE(append_backslash(full, sizeof full));
  EXPECT_STREQ(full, "C:A");
}

TEST(CompareNoCase, FoldsAsciiAndWesternLetters) {
  EXPECT_TRUE(equals_nocase("#InstallDir#", "#installdir#"));
  EXPECT_TRUE(equals_nocase("C:\\PROGRAM FILES", "c:\\program files"));
  EXPECT_TRUE(equals_nocase("\xC4rger", "\xE4RGER")); // Ärger / äRGER in code page 1252
  EXPECT_FALSE(equals_nocase("abc", "abd"));
  EXPECT_FALSE(equals_nocase("abc", "ab"));
  EXPECT_LT(compare_nocase("ab", "abc"), 0);
  EXPECT_EQ(compare_nocase_n("C:\\Apps\\Tool\\x", "c:\\apps\\tool\\y", 13), 0);
  EXPECT_FALSE(equals_nocase("\xD7", "\xF7")); // multiplication and division signs differ
}

TEST(TextCopy, BoundedCopiesNeverOverflow) {
  char buf[5] = "xyz";
  EXPECT_FALSE(text_copy(buf, sizeof buf, "hello"));
  EXPECT_STREQ(buf, "xyz");
  EXPECT_TRUE(text_copy(buf, sizeof buf, "hell"));
  EXPECT_FALSE(text_append(buf, sizeof buf, "o"));
  EXPECT_STREQ(buf, "hell");
  text_copy_cut(buf, sizeof buf, "hello world");
  EXPECT_STREQ(buf, "hell");
}

TEST(TextConcat, JoinsPartsOnlyAsFarAsTheyFitWhole) {
  // The guard byte behind the capacity shows that nothing is written past it.
  char buf[9];
  memset(buf, '#', sizeof buf);
  EXPECT_TRUE(text_concat(buf, 8, "\"", "C:\\a", "\"", "", nullptr));
  EXPECT_STREQ(buf, "\"C:\\a\"");
  EXPECT_FALSE(text_concat(buf, 8, "ab", "cde", "fgh", "i", nullptr));
  EXPECT_STREQ(buf, "abcde"); // "abcdefgh" with its NUL would take 9 bytes
  EXPECT_EQ(buf[8], '#');
  EXPECT_TRUE(text_concat(buf, 8, "1234567", nullptr));
  EXPECT_FALSE(text_concat(buf, 8, "12345678", nullptr));
  EXPECT_STREQ(buf, "");
  buf[0] = '#';
  EXPECT_FALSE(text_concat(buf, 0, "x", nullptr));
  EXPECT_EQ(buf[0], '#'); // no room at all: not even the NUL is written
}

TEST(FormatText, OneArgumentConversionsLikeTheWindowsFormatter) {
  char out[64];
  struct Case {
    const char* format;
    FormatArg arg;
    const char* expected;
  } cases[] = {
      {"Insert disk %d", number_arg(2), "Insert disk 2"},
      {".D%2.2d", number_arg(1), ".D01"},
      {".D%2.2d", number_arg(100), ".D100"},
      {"%d%%", number_arg(42), "42%"},
      {"File %s is in use", text_arg("C:\\A\\B.DLL"), "File C:\\A\\B.DLL is in use"},
      {"%s and %s", text_arg("x"), "x and "}, // no second argument is read
      {"%5s|%-4d|%04d", text_arg("ab"), "   ab||"},
      {"%-4d|", number_arg(-7), "-7  |"},
      {"%04d", number_arg(-7), "-007"},
      {"%x %X", number_arg(255), "ff "},
      {"100%", number_arg(0), "100%"},
      {"%q stays", number_arg(0), "%q stays"},
      {"%u", number_arg(-1), "4294967295"},
  };
  for (const Case& c : cases) {
    format_text(out, sizeof out, c.format, c.arg);
    EXPECT_STREQ(out, c.expected) << c.format;
  }
  format_text(out, 6, "%s", text_arg("abcdefghij"));
  EXPECT_STREQ(out, "abcde"); // cut to the buffer
}
