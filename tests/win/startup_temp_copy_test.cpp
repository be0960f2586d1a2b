// The temporary copy made from a removable disk: the first free
// "_inst%d.exe" of the temporary folder, holding exactly the stub-length
// bytes of the package file, and nothing left behind when it cannot be made.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "common/heap.h"
#include "common/state.h"
#include "package/package.h"
#include "support/package_maker.h"
#include "support/temp_dir.h"

namespace {

const uint32_t STUB = 100;

class TempCopy : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(app_alloc_buffers());
    temp_folder = dir.path() + "\\temp";
    CreateDirectoryA(temp_folder.c_str(), NULL);
    saved_tmp = variable("TMP");
    saved_temp = variable("TEMP");
    SetEnvironmentVariableA("TMP", temp_folder.c_str());
    SetEnvironmentVariableA("TEMP", temp_folder.c_str());
    for (int i = 0; i < 300; i++) package.push_back((uint8_t)(i * 7));
    strcpy(g_app.package_path, dir.write("setup.exe", package).c_str());
    saved_stub = g_app.stub_length;
    g_app.stub_length = STUB;
  }
  void TearDown() override {
    heap_set_failure_hook(nullptr);
    SetEnvironmentVariableA("TMP", saved_tmp.empty() ? NULL : saved_tmp.c_str());
    SetEnvironmentVariableA("TEMP", saved_temp.empty() ? NULL : saved_temp.c_str());
    g_app.stub_length = saved_stub;
    app_free_buffers();
  }
  static std::string variable(const char* name) {
    char value[MAX_PATH] = "";
    GetEnvironmentVariableA(name, value, sizeof value);
    return value;
  }
  std::string in_temp(const char* name) const { return temp_folder + "\\" + name; }
  std::vector<std::string> temp_files() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((temp_folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (data.cFileName[0] != '.') names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
  }
  TempDir dir;
  std::string temp_folder, saved_tmp, saved_temp;
  std::vector<uint8_t> package;
  uint32_t saved_stub = 0;
};

bool fail_stub_sized(size_t n, int) {
  return n == STUB;
}

} // namespace

TEST_F(TempCopy, HoldsExactlyTheStubBytesInTheFirstFreeName) {
  ASSERT_TRUE(make_temp_copy());
  EXPECT_EQ(std::string(g_app.temp_path), in_temp("_inst0.exe"));
  std::vector<uint8_t> copy = read_file_bytes(in_temp("_inst0.exe"));
  EXPECT_EQ(copy, std::vector<uint8_t>(package.begin(), package.begin() + STUB));
}

// A signed setup file names its certificate table in the stub's headers;
// the copy, which carries no table, names none and is otherwise the stub.
TEST_F(TempCopy, ACopyOfASignedSetupFileNamesNoCertificateTable) {
  for (bool pe32_plus : {false, true}) {
    Bytes file = pe_header_stub(pe32_plus);
    file.resize(file.size() + 100, 'p'); // the package
    append_certificate_table(file, pe32_plus);
    strcpy(g_app.package_path, dir.write("signed.exe", file).c_str());
    g_app.stub_length = 0x200;
    ASSERT_TRUE(make_temp_copy());
    std::vector<uint8_t> copy = read_file_bytes(g_app.temp_path);
    std::vector<uint8_t> expected(file.begin(), file.begin() + 0x200);
    memset(&expected[pe_security_entry(pe32_plus)], 0, 8);
    EXPECT_EQ(copy, expected) << pe32_plus;
    DeleteFileA(g_app.temp_path);
  }
}

TEST_F(TempCopy, PassesOverNamesThatExist) {
  dir.write("temp\\_inst0.exe", std::string("earlier"));
  dir.write("temp\\_inst2.exe", std::string("earlier"));
  ASSERT_TRUE(make_temp_copy());
  EXPECT_EQ(std::string(g_app.temp_path), in_temp("_inst1.exe"));
  EXPECT_EQ(read_file_bytes(in_temp("_inst0.exe")).size(), 7u); // untouched
  EXPECT_EQ(read_file_bytes(in_temp("_inst1.exe")).size(), STUB);
  ASSERT_TRUE(make_temp_copy());
  EXPECT_EQ(std::string(g_app.temp_path), in_temp("_inst3.exe"));
}

TEST_F(TempCopy, LeavesNoCopyWhenItCannotBeMadeWhole) {
  // No buffer for the stub bytes.
  heap_set_failure_hook(fail_stub_sized);
  EXPECT_FALSE(make_temp_copy());
  heap_set_failure_hook(nullptr);
  EXPECT_TRUE(temp_files().empty());
  // A package file shorter than the stub.
  g_app.stub_length = 301;
  EXPECT_FALSE(make_temp_copy());
  EXPECT_TRUE(temp_files().empty());
  // No package file.
  g_app.stub_length = STUB;
  strcpy(g_app.package_path, dir.file("missing.exe").c_str());
  EXPECT_FALSE(make_temp_copy());
  EXPECT_TRUE(temp_files().empty());
  // A raw stub carries no package: nothing to hand over.
  g_app.stub_length = 0;
  EXPECT_FALSE(make_temp_copy());
  EXPECT_TRUE(temp_files().empty());
}

// /DEL is honoured only for a copy the relaunch could have made: an
// "_inst<n>.exe" directly in the temporary folder.
TEST_F(TempCopy, OnlyACopyInTheTemporaryFolderCountsAsOne) {
  struct Case {
    std::string path;
    bool copy;
  } cases[] = {
      {in_temp("_inst0.exe"), true},
      {in_temp("_INST998.EXE"), true},
      {in_temp("_inst999.exe"), false},
      {in_temp("_inst.exe"), false},
      {in_temp("_inst1.exe.bak"), false},
      {in_temp("setup.exe"), false},
      {in_temp("sub\\_inst0.exe"), false},
      {dir.file("_inst0.exe"), false}, // beside the package, not in the temporary folder
      {"_inst0.exe", false},
  };
  CreateDirectoryA(in_temp("sub").c_str(), NULL);
  for (const Case& c : cases) EXPECT_EQ(is_temp_copy(c.path.c_str()), c.copy) << c.path;
}

TEST(TempCopyName, NumbersTheNameInTheFolder) {
  char name[MAX_PATH];
  ASSERT_TRUE(temp_copy_name(name, sizeof name, "C:\\Temp\\", 998));
  EXPECT_STREQ(name, "C:\\Temp\\_inst998.exe");
  EXPECT_FALSE(temp_copy_name(name, 12, "C:\\Temp\\", 0));
}
