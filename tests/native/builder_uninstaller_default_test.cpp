// [uninstaller] without `program`: the build carries pakwiz's own uninstaller
// (--uninstaller, else pakwiz-uninstall.exe beside pakwiz, else the release
// build of the source tree); a `program` of the project always wins.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "builder/errors.h"
#include "builder/project.h"
#include "builder/source_files.h"
#include "builder_test_util.h"

using namespace pakwiz;
using namespace builder_test;

namespace {

namespace fs = std::filesystem;

const char* const WITHOUT_PROGRAM = R"(product = "P"
[uninstaller]
menu = { name = "Remove P" }
[[files]]
source = "a.txt"
)";

std::vector<uint8_t> bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// The file prefix block (record type 11) of a built setup.exe.
std::vector<uint8_t> prefix_block(const TempDir& dir) {
  std::vector<uint8_t> file = read_file_bytes(dir.file("setup.exe"));
  std::vector<RawRecord> records = walk_records(file, stand_in_stub().size());
  const RawRecord* prefix = find_record(records, 11);
  return prefix ? prefix->payload : std::vector<uint8_t>();
}

BuildSummary build_with(const TempDir& dir, const std::string& toml,
                        const std::string& uninstaller) {
  dir.write("stub.bin", stand_in_stub());
  BuildOptions o;
  o.project = dir.write("project.toml", toml);
  o.output = dir.file("setup.exe");
  o.stub = dir.file("stub.bin");
  o.uninstaller = uninstaller;
  return build_setup(o);
}

} // namespace

TEST(BuilderUninstallerDefault, WithoutProgramTheUninstallerEntryIsStillMade) {
  TempDir dir;
  Project p = parse_project(WITHOUT_PROGRAM, dir.file("project.toml"));
  EXPECT_TRUE(p.uninstaller_program.empty());
  ASSERT_EQ(p.languages[0].files.size(), 2u);
  EXPECT_TRUE(p.languages[0].files[0].uninstaller);
  EXPECT_EQ(p.languages[0].files[0].target, "Uninstall.exe");
  EXPECT_EQ(p.languages[0].files[0].menu_name, "Remove P");
  EXPECT_EQ(p.languages[0].uninstall_key, "P");
}

TEST(BuilderUninstallerDefault, TheNamedUninstallerIsCarriedUnlessTheProjectNamesOne) {
  TempDir dir;
  dir.write("a.txt", "a");
  dir.write("mine.exe", "MZ the builder's uninstaller");
  dir.write("own.exe", "MZ the project's uninstaller");
  build_with(dir, WITHOUT_PROGRAM, dir.file("mine.exe"));
  EXPECT_EQ(prefix_block(dir), bytes("MZ the builder's uninstaller"));

  std::string with_program = R"(product = "P"
[uninstaller]
program = "own.exe"
[[files]]
source = "a.txt"
)";
  build_with(dir, with_program, dir.file("mine.exe"));
  EXPECT_EQ(prefix_block(dir), bytes("MZ the project's uninstaller"));

  // Without an uninstaller entry nothing is looked for.
  std::string none = R"(product = "P"
[uninstaller]
[[languages]]
uninstaller = false
[[languages.files]]
source = "a.txt"
)";
  build_with(dir, none, dir.file("missing.exe"));
  EXPECT_TRUE(prefix_block(dir).empty());

  // A missing uninstaller is an error naming it.
  try {
    build_with(dir, WITHOUT_PROGRAM, dir.file("missing.exe"));
    ADD_FAILURE() << "built without the uninstaller";
  } catch (const BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.exe"), std::string::npos) << e.what();
  }
}

TEST(BuilderUninstallerDefault, PakwizUninstallBesideTheBuilderIsTheDefault) {
  // The test program stands in for pakwiz: the default is looked for beside it.
  fs::path beside = fs::path(own_executable_dir()) / "pakwiz-uninstall.exe";
  std::error_code ec;
  if (fs::exists(beside, ec)) GTEST_SKIP() << beside << " exists already";
  {
    std::ofstream out(beside, std::ios::binary);
    out << "MZ beside the builder";
  }
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code e;
      fs::remove(p, e);
    }
  } remove{beside};
  EXPECT_EQ(default_uninstaller_path(), beside.string());
  TempDir dir;
  dir.write("a.txt", "a");
  build_with(dir, WITHOUT_PROGRAM, "");
  EXPECT_EQ(prefix_block(dir), bytes("MZ beside the builder"));
}
