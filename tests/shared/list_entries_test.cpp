// The INI, registry and file patch lists as the builder writes them are read
// back field by field by the setup program's readers, each walk ending
// exactly at the end of its list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/script_writer.h"
#include "common/text.h"
#include "install/lists.h"

TEST(ListEntries, ReadersTakeWhatTheBuilderWrites) {
  std::vector<pakwiz::IniEntryFields> ini(2);
  ini[0] = {1, "#InstallDir#\\hello.ini", "Hello", "Folder", "#InstallDir#"};
  ini[1] = {0, "win.ini", "Sec", "K", "v"};
  std::vector<uint8_t> ini_list = pakwiz::ini_list_payload(ini);
  const uint8_t* p = ini_list.data() + 2;
  ASSERT_EQ(read_u16(ini_list.data()), 2);
  for (const pakwiz::IniEntryFields& want : ini) {
    IniEntry got;
    p = read_ini_entry(p, &got);
    EXPECT_EQ(got.flags, want.flags);
    EXPECT_EQ(got.file, want.file);
    EXPECT_EQ(got.section, want.section);
    EXPECT_EQ(got.key, want.key);
    EXPECT_EQ(got.value, want.value);
  }
  EXPECT_EQ(p, ini_list.data() + ini_list.size());

  std::vector<pakwiz::RegistryEntryFields> reg(2);
  reg[0] = {20, 1, "Software\\Hello", "", "#Date#"};
  reg[1] = {2, 0, "Software\\Other", "Name", "x"};
  std::vector<uint8_t> reg_list = pakwiz::registry_list_payload(reg);
  p = reg_list.data() + 2;
  for (const pakwiz::RegistryEntryFields& want : reg) {
    RegistryEntry got;
    p = read_registry_entry(p, &got);
    EXPECT_EQ(got.root, want.root);
    EXPECT_EQ(got.flags, want.flags);
    EXPECT_EQ(got.key, want.key);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.value, want.value);
  }
  EXPECT_EQ(p, reg_list.data() + reg_list.size());

  std::vector<pakwiz::PatchEntryFields> patches(2);
  patches[0].position = 128;
  patches[0].file = "hello.cfg";
  patches[0].text = "#InstallDir#";
  patches[1].position = -1;
  patches[1].reserved = 0xDEADBEEF;
  patches[1].reserved_byte = 0x5A;
  patches[1].file = "#Windows#\\x.ini";
  patches[1].text = "t";
  patches[1].pattern = {0x0D, 0x0A, 0x00, 'F'};
  std::vector<uint8_t> patch_list = pakwiz::patch_list_payload(patches);
  p = patch_list.data() + 2;
  for (const pakwiz::PatchEntryFields& want : patches) {
    PatchEntry got;
    p = read_patch_entry(p, &got);
    EXPECT_EQ(got.position, want.position);
    EXPECT_EQ(got.file, want.file);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(std::vector<uint8_t>(got.pattern, got.pattern + got.pattern_length), want.pattern);
  }
  EXPECT_EQ(p, patch_list.data() + patch_list.size());
}
