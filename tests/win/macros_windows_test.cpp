// Folder macros whose values come from Windows, and file references.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/lists.h"
#include "package/macros.h"
#include "support/install_package.h"

namespace {

const char CURRENT_VERSION[] = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string expand(const char* text) {
  char out[PATH_SIZE];
  out[0] = 0;
  expand_folder_macros(out, text, sizeof out);
  return out;
}

class MacrosWindows : public InstallTest {};

} // namespace

TEST_F(MacrosWindows, WindowsSystemAndProgramFilesFolders) {
  char windows[MAX_PATH], system[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  GetSystemDirectoryA(system, MAX_PATH);
  EXPECT_EQ(expand("#Windows#\\#Foo"), std::string(windows) + "\\#Foo");
  EXPECT_EQ(expand("#SYSTEM#\\x.dll"), std::string(system) + "\\x.dll");

  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, CURRENT_VERSION, 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  char saved[MAX_PATH];
  DWORD size = sizeof saved, type = 0;
  bool had =
      RegQueryValueExA(key, "ProgramFilesDir", NULL, &type, (BYTE*)saved, &size) == ERROR_SUCCESS;
  const char value[] = "D:\\Programs\\";
  RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, (const BYTE*)value, sizeof value);
  EXPECT_EQ(expand("#Program Files#\\App"), "D:\\Programs\\App");
  RegDeleteValueA(key, "ProgramFilesDir");
  EXPECT_EQ(expand("#Program Files#\\App"), "#Program Files#\\App"); // unreadable: kept
  if (had) RegSetValueExA(key, "ProgramFilesDir", 0, type, (const BYTE*)saved, size);
  RegCloseKey(key);
}

TEST_F(MacrosWindows, FileReferenceNamesAnEntryByItsTargetOrExpandsTheText) {
  PackedFile readme;
  readme.entry.strings[0] = "docs\\readme.txt";
  PackedFile font;
  font.entry.strings[0] = "face.ttf";
  load({font, readme});
  resolve_file_reference("DOCS\\README.TXT");
  EXPECT_EQ(std::string(g_app.destination_path), install_folder + "docs\\readme.txt");
  resolve_file_reference("#InstallDir#\\other.ini");
  EXPECT_EQ(std::string(g_app.destination_path), install_folder + "other.ini");
  resolve_file_reference("#gone#");
  EXPECT_EQ(std::string(g_app.destination_path), "");
  // Too long to be a path: no file at all, not the first 259 characters.
  std::string just_fits =
      "#InstallDir#\\" + std::string(PATH_SIZE - 1 - install_folder.size(), 'a');
  resolve_file_reference(just_fits.c_str());
  EXPECT_EQ(text_length(g_app.destination_path), (size_t)PATH_SIZE - 1);
  resolve_file_reference((just_fits + "b").c_str());
  EXPECT_EQ(std::string(g_app.destination_path), "");
}
