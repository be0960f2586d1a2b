// The Windows side of the builder's file layer: names reserved for devices,
// names compared without regard to case, outputs renamed over their names,
// and extraction refusing device names.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "builder/errors.h"
#include "builder/host_files.h"
#include "builder/output_files.h"
#include "support/temp_dir.h"

using namespace pakwiz;

namespace {

std::string error_of(void (*f)(const TempDir&), const TempDir& dir) {
  try {
    f(dir);
  } catch (const BuildError& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace

TEST(BuilderHostFiles, DeviceNamesFoldersAndFilesAreToldApart) {
  TempDir dir;
  dir.write("file.txt", "x");
  struct Case {
    std::string path;
    PathKind kind;
  } cases[] = {
      {"NUL", PathKind::DEVICE},
      {dir.file("con.txt"), PathKind::DEVICE},
      {dir.file("Aux.log"), PathKind::DEVICE},
      {dir.file("com1"), PathKind::DEVICE},
      {"\\\\.\\pipe\\anything", PathKind::DEVICE},
      {dir.path(), PathKind::FOLDER},
      {dir.file("file.txt"), PathKind::REGULAR},
      {dir.file("missing.txt"), PathKind::MISSING},
      {dir.file("no\\such\\folder.txt"), PathKind::MISSING},
  };
  for (const Case& c : cases) EXPECT_EQ((int)probe_path(c.path).kind, (int)c.kind) << c.path;
}

TEST(BuilderHostFiles, OutputsReplaceTheirNamesButNeverAnInput) {
  TempDir dir;
  std::string input = dir.write("Input.txt", "input");
  OutputFiles outputs({{input, "a source file"}});
  // The same file by another case of its name, and by a hard link.
  ASSERT_TRUE(CreateHardLinkA(dir.file("hard.txt").c_str(), input.c_str(), nullptr));
  for (std::string name : {dir.file("INPUT.TXT"), dir.file("hard.txt")}) {
    try {
      outputs.check(name, "the output");
      ADD_FAILURE() << name;
    } catch (const BuildError& e) {
      EXPECT_NE(std::string(e.what()).find("it is a source file"), std::string::npos) << e.what();
    }
  }
  try {
    outputs.check("nul", "the output");
    ADD_FAILURE() << "nul";
  } catch (const BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("it is a device"), std::string::npos) << e.what();
  }

  std::string out = dir.write("setup.exe", "earlier build");
  HostFile& f = outputs.create(out, "the output");
  f.write("new", 3);
  outputs.commit();
  EXPECT_EQ(read_file_bytes(out), std::vector<uint8_t>({'n', 'e', 'w'}));
  EXPECT_EQ(read_file_bytes(input).size(), 5u);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(dir.file("*.pakwiz-tmp").c_str(), &found);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "a temporary file was left: " << found.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

TEST(BuilderHostFiles, ExtractionWritesBelowItsFolderAndRefusesDeviceNames) {
  TempDir dir;
  const uint8_t data[] = {'o', 'k'};
  std::string path = write_file_beneath(dir.file("out"), {"sub", "a.txt"}, data, 2, std::nullopt);
  EXPECT_EQ(read_file_bytes(path), std::vector<uint8_t>({'o', 'k'}));
  std::string error = error_of(
      [](const TempDir& d) {
        const uint8_t b[] = {'x'};
        write_file_beneath(d.file("out"), {"sub", "con.txt"}, b, 1, std::nullopt);
      },
      dir);
  EXPECT_NE(error.find("'con.txt' is a name Windows reserves for a device"), std::string::npos)
      << error;
  // A file where a folder is needed is named.
  error = error_of(
      [](const TempDir& d) {
        const uint8_t b[] = {'x'};
        write_file_beneath(d.file("out"), {"sub", "a.txt", "b.txt"}, b, 1, std::nullopt);
      },
      dir);
  EXPECT_NE(error.find("a.txt is not a folder"), std::string::npos) << error;
}

TEST(BuilderHostFiles, ErrorsCarryTheSystemText) {
  std::string text = system_error_text(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find("error 2"), std::string::npos) << text; // a message, not a number
  EXPECT_NE(text.back(), '\n');
}
