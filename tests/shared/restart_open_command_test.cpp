// Opening a document through its class's registered command: the lookup key
// and the command line built from it.
#include <gtest/gtest.h>

#include <string>

#include "install/restart.h"

TEST(OpenDocument, ExtensionRunsFromTheLastDotEvenInsideAFolderName) {
  EXPECT_STREQ(document_extension("C:\\Docs\\readme.txt"), ".txt");
  EXPECT_STREQ(document_extension("C:\\My.Docs\\readme"), ".Docs\\readme");
  EXPECT_STREQ(document_extension("C:\\Docs\\readme"), ".");
}

TEST(OpenDocument, CommandIsCutAtItsPlaceholderAndThePathAppended) {
  struct Case {
    const char* registered;
    const char* expected;
  } cases[] = {
      {"notepad.exe \"%1\" /p", "notepad.exe  \"C:\\My Docs\\a.txt\""},
      {"viewer.exe %1 -x", "viewer.exe  \"C:\\My Docs\\a.txt\""},
      {"viewer.exe %1 \"%1\"", "viewer.exe %1  \"C:\\My Docs\\a.txt\""},
      {"viewer.exe", "viewer.exe \"C:\\My Docs\\a.txt\""},
  };
  char out[600];
  for (const Case& c : cases) {
    ASSERT_TRUE(build_open_command(out, sizeof out, c.registered, "C:\\My Docs\\a.txt"));
    EXPECT_STREQ(out, c.expected) << c.registered;
  }
  // The closing quote must fit as well.
  EXPECT_TRUE(build_open_command(out, 30, "viewer.exe", "C:\\My Docs\\a.txt"));
  EXPECT_FALSE(build_open_command(out, 29, "viewer.exe", "C:\\My Docs\\a.txt"));
}
