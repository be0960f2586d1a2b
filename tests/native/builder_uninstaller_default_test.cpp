// [uninstaller] without `program`: the build carries pakwiz's own uninstaller
// (--uninstaller, else pakwiz-uninstall.exe beside pakwiz, else the release
// build of the source tree); a `program` of the project always wins.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sstream>

#include "builder/errors.h"
#include "builder/inspect.h"
#include "builder/project.h"
#include "builder/source_files.h"
#include "builder_test_util.h"
#include "common/bytes.h"
#include "uninstall/log_reader.h"

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

TEST(BuilderUninstallerDefault, EveryBlockCarriesOneUnlessTheProjectTurnsItOff) {
  TempDir dir;
  // Each block's uninstaller target ("" = none) and uninstall key.
  struct Case {
    const char* toml;
    std::vector<std::string> targets, keys;
  } cases[] = {
      {"product = \"P\"\n", {"Uninstall.exe"}, {"P"}},
      {"product = \"P\"\nuninstaller = false\n", {""}, {""}},
      {"product = \"P\"\n[[languages]]\n[[languages]]\nuninstaller = false\n",
       {"Uninstall.exe", ""},
       {"P", ""}},
      {"product = \"P\"\nuninstaller = false\n[[languages]]\n[[languages]]\nuninstaller = "
       "true\n[[languages]]\nuninstaller = { target = \"u.exe\" }\n",
       {"", "Uninstall.exe", "u.exe"},
       {"", "P", "P"}},
      {"product = \"P\"\n[uninstaller]\ntarget = \"Remove.exe\"\n[[languages]]\n"
       "uninstall_key = \"P 1.0\"\n",
       {"Remove.exe"},
       {"P 1.0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.toml);
    Project p = parse_project(c.toml, dir.file("project.toml"));
    ASSERT_EQ(p.languages.size(), c.targets.size());
    for (size_t b = 0; b < p.languages.size(); b++) {
      const std::vector<FileSpec>& files = p.languages[b].files;
      bool has = !files.empty() && files[0].uninstaller;
      EXPECT_EQ(has ? files[0].target : "", c.targets[b]) << "block " << b;
      EXPECT_EQ(p.languages[b].uninstall_key, c.keys[b]) << "block " << b;
    }
  }
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

// Each language block's uninstaller entry carries a data record before the
// reserved bytes: the uninstaller's texts in the block's language, the
// project's overrides by name, "{product}" replaced, in ANSI.
TEST(BuilderUninstallerDefault, EachBlocksUninstallerCarriesItsTexts) {
  TempDir dir;
  dir.write("a.txt", "a");
  dir.write("mine.exe", "MZ the builder's uninstaller");
  const std::string toml = R"(product = "Tool"
[uninstaller]
[[languages]]
language = "en"
[[languages.files]]
source = "a.txt"
[[languages]]
language = "de"
uninstaller_texts = { caption = "Weg mit {product}", done = "%s ist weg." }
[[languages.files]]
source = "a.txt"
)";
  build_with(dir, toml, dir.file("mine.exe"));
  const std::vector<uint8_t> program = bytes("MZ the builder's uninstaller");
  for (int block = 0; block < 2; block++) {
    SCOPED_TRACE(block);
    std::ostringstream ignored;
    std::string out = dir.file("out" + std::to_string(block));
    extract_package(dir.file("setup.exe"), out, block, ignored);
    std::vector<uint8_t> file = read_file_bytes(out + "/Uninstall.exe");
    ASSERT_GT(file.size(), program.size() + 16);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), file.begin()));
    const uint8_t* record = file.data() + program.size();
    EXPECT_EQ(read_u16(record), UNINSTALLER_DATA_TAG);
    EXPECT_EQ(read_u16(record + 2), 0);
    uint32_t length = read_u32(record + 4);
    // The record, then the 8 reserved bytes end the file.
    ASSERT_EQ(program.size() + 8 + length + 8, file.size());
    EXPECT_EQ(std::vector<uint8_t>(file.end() - 8, file.end()), std::vector<uint8_t>(8, 0));
    LogText texts[UNINSTALL_TEXT_COUNT];
    ASSERT_TRUE(read_uninstaller_texts(record + 8, length, texts));
    auto str = [&](int i) { return std::string(texts[i].text, texts[i].length); };
    if (block == 0) {
      EXPECT_EQ(str(UNINSTALL_TEXT_CAPTION), "Uninstall Tool");
      EXPECT_EQ(str(UNINSTALL_TEXT_DONE), "%s has been removed from this computer.");
    } else {
      EXPECT_EQ(str(UNINSTALL_TEXT_CAPTION), "Weg mit Tool");
      EXPECT_EQ(str(UNINSTALL_TEXT_DONE), "%s ist weg.");
      EXPECT_EQ(str(UNINSTALL_TEXT_ASK).substr(0, 8), "M\xF6"
                                                      "chten ");
    }
    for (int i = 0; i < UNINSTALL_TEXT_COUNT; i++) EXPECT_NE(texts[i].text, nullptr) << i;
  }

  // Texts the uninstaller formats take one %s; unknown names are refused.
  const std::pair<std::string, std::string> wrong[] = {
      {"ask = \"%s and %s\"", "ask"},
      {"progress = \"%d\"", "progress"},
      {"titel = \"x\"", "titel"},
  };
  for (const auto& w : wrong) {
    std::string project = R"(product = "Tool"
[uninstaller]
[[languages]]
uninstaller_texts = { )" + w.first +
                          R"( }
[[languages.files]]
source = "a.txt"
)";
    try {
      build_with(dir, project, dir.file("mine.exe"));
      ADD_FAILURE() << "built with " << w.first;
    } catch (const BuildError& e) {
      EXPECT_NE(std::string(e.what()).find(w.second), std::string::npos) << e.what();
    }
  }
}
