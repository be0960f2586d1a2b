// The install driver over real packages, watched by a test observer in place
// of the progress page: one entry per step with the current file and the
// progress, failures that stop the steps, the end-of-setup actions, giving
// up at a disk prompt, and the end of the installation.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "builder/encoder.h"
#include "common/state.h"
#include "decode/archive.h"
#include "install/install.h"
#include "package/file_entry.h"
#include "package/script.h"
#include "support/install_package.h"

namespace {

#ifdef _WIN32
const char SEP[] = "\\";
#else
const char SEP[] = "/";
#endif

// What the driver told its observer, in order.
struct Heard {
  std::vector<std::string> events; // "file <path>", "progress <n>", "finished", "abandoned"
  std::vector<uint32_t> percents;
};

void heard_file(const char* path, void* context) {
  ((Heard*)context)->events.push_back(std::string("file ") + path);
}
void heard_progress(uint32_t percent, void* context) {
  Heard* h = (Heard*)context;
  h->events.push_back("progress " + std::to_string(percent));
  h->percents.push_back(percent);
}
void heard_finished(void* context) {
  ((Heard*)context)->events.push_back("finished");
}
void heard_abandoned(void* context) {
  ((Heard*)context)->events.push_back("abandoned");
}

class InstallDriver : public InstallTest {
protected:
  void SetUp() override {
    InstallTest::SetUp();
    observer = {&heard, heard_file, heard_progress, heard_finished, heard_abandoned};
    set_install_observer(&observer);
  }
  void TearDown() override {
    set_install_observer(nullptr);
    set_disk_request(nullptr, nullptr);
    g_app.temp_copy = false;
    InstallTest::TearDown();
  }
  // Prepares and runs every step; the number of steps that returned 1.
  int run_all() {
    EXPECT_TRUE(prepare_installation());
    int steps = 0;
    while (install_step()) steps++;
    return steps;
  }
  std::string path(const std::string& relative) { return install_folder + relative; }

  Heard heard;
  InstallObserver observer = {};
};

} // namespace

TEST_F(InstallDriver, EachStepInstallsOneEntryAndTellsTheObserver) {
  std::string two = std::string("sub") + SEP + "two.txt";
  load({packed_file("one.txt", "1"), packed_file(two, "22"), packed_file("three.txt", "333")});
  ASSERT_TRUE(prepare_installation());
  EXPECT_TRUE(g_install.installing);
  EXPECT_EQ(g_install.entry_index, -1);
  int steps = 0;
  while (install_step()) steps++;
  EXPECT_EQ(steps, 3);
  EXPECT_FALSE(install_step()); // nothing left
  EXPECT_EQ(heard.events,
            (std::vector<std::string>{"file " + path("one.txt"), "progress 33", "file " + path(two),
                                      "progress 66", "file " + path("three.txt"), "progress 100"}));
  EXPECT_EQ(read_file_bytes(path("one.txt")), text_bytes("1"));
  EXPECT_EQ(read_file_bytes(path(two)), text_bytes("22"));
  EXPECT_EQ(read_file_bytes(path("three.txt")), text_bytes("333"));
  for (uint32_t i = 0; i < 3; i++) EXPECT_EQ(entry_status(entry(i)), STATUS_CREATED);

  heard.events.clear();
  finish_installation();
  EXPECT_EQ(heard.events, (std::vector<std::string>{"finished"}));
  EXPECT_FALSE(g_install.installing);
  EXPECT_EQ(g_archive.handle, INVALID_FILE);
  EXPECT_EQ(std::string(g_app.install_folder), install_folder); // trailing separator kept
}

TEST_F(InstallDriver, EmptyFileListEndsAtTheFirstStepAndStillFinishes) {
  load({});
  ASSERT_TRUE(prepare_installation());
  EXPECT_FALSE(install_step());
  finish_installation();
  EXPECT_EQ(g_install.error_code, 0u);
  EXPECT_EQ(heard.events, (std::vector<std::string>{"finished"}));
}

TEST_F(InstallDriver, MissingPackageFileFailsPreparationWithError16) {
  load({packed_file("a.txt", "a")});
  std::remove(g_app.package_path);
  EXPECT_FALSE(prepare_installation());
  EXPECT_EQ(g_install.error_code, 16u);
  EXPECT_STREQ(g_app.error_file_name, g_app.package_path);
  EXPECT_FALSE(g_install.installing);
  EXPECT_TRUE(heard.events.empty());
}

TEST_F(InstallDriver, FailedEntryStopsTheStepsAndDeletesItsTemporaryFile) {
  PackedFile bad = packed_file("b.txt", "bad");
  bad.wrong_checksum = true;
  load({packed_file("a.txt", "a"), bad, packed_file("c.txt", "c")});
  EXPECT_EQ(run_all(), 1);
  EXPECT_EQ(g_install.error_code, 21u);
  EXPECT_EQ(std::string(g_app.error_file_name), path("b.txt"));
  EXPECT_FALSE(file_exists(path("b.$$A")));
  EXPECT_FALSE(file_exists(path("b.txt")));
  EXPECT_FALSE(file_exists(path("c.txt")));
  EXPECT_EQ(heard.percents, (std::vector<uint32_t>{33})); // the failed entry reports nothing
  finish_installation();
  EXPECT_EQ(heard.events.back(), "finished"); // finishing still runs
}

TEST_F(InstallDriver, PathTooLongForTheBuffersIsAnErrorNamingTheTarget) {
  load({packed_file(std::string(120, 'n') + ".txt", "x")});
  std::string deep = dir.file(std::string(130, 'd')) + SEP;
  strcpy(g_app.install_folder, deep.c_str());
  EXPECT_EQ(run_all(), 0);
  EXPECT_EQ(g_install.error_code, 17u);
  EXPECT_EQ(std::string(g_app.error_file_name), std::string(120, 'n') + ".txt");
  EXPECT_TRUE(heard.events.empty());
}

TEST_F(InstallDriver, SourceFolderEntryIsNotCopiedButKeepsItsEndAction) {
  PackedFile doc = packed_file("readme.txt", "text");
  doc.entry.removal = REMOVAL_NOT_INSTALLED;
  doc.entry.end_action = END_OPEN_DOCUMENT;
  doc.entry.destination = DEST_WINDOWS; // beside the package, whatever its kind
  PackedFile first = packed_file("a.exe", "a");
  first.entry.end_action = END_START_PROGRAM;
  PackedFile second = packed_file("b.exe", "b");
  second.entry.end_action = END_START_PROGRAM;
  load({doc, first, second});
  EXPECT_EQ(run_all(), 3);
  EXPECT_EQ(heard.events.front(), "file " + dir.file("readme.txt")); // beside the package
  EXPECT_FALSE(file_exists(dir.file("readme.txt")));
  EXPECT_FALSE(file_exists(path("readme.txt")));
  EXPECT_EQ(g_install.document, entry(0));
  EXPECT_EQ(g_install.program, entry(2)); // the later one
}

TEST_F(InstallDriver, UninstallerEntryIsRememberedButNotLoggedAsInstalled) {
  PackedFile uninstaller = packed_file("uninst.exe", "data");
  uninstaller.entry.flags = ENTRY_UNINSTALLER;
  PackedFile saver = packed_file("nice.scr", "saver");
  saver.entry.special = SPECIAL_SCREEN_SAVER;
  load({uninstaller, saver}, text_bytes("PREFIX"));
  EXPECT_EQ(run_all(), 2);
  EXPECT_EQ(std::string(g_app.uninstaller_path), path("uninst.exe"));
  EXPECT_EQ(entry_status(entry(0)), STATUS_NONE);
  EXPECT_EQ(read_file_bytes(path("uninst.exe")), text_bytes("PREFIXdata"));
  EXPECT_EQ(g_install.screen_saver, entry(1));
}

// The temporary copy asks for a missing volume; giving up ends the step with
// error 15, forgets the end-of-setup actions and tells the observer.
TEST_F(InstallDriver, GivingUpAtTheDiskPromptAbandonsTheInstallation) {
  PackedFile program = packed_file("a.exe", "program");
  program.entry.end_action = END_START_PROGRAM;
  // The first entry's stream fills the package file; the second lies in setup.D01.
  archive_in_package = pakwiz::encode_stream(program.content.data(), program.content.size(),
                                             pakwiz::default_compression_level())
                           .size();
  load({program, packed_file("b.txt", "in the second volume")});
  std::string d01 = dir.file("setup.D01");
  ASSERT_EQ(std::rename(d01.c_str(), (d01 + ".away").c_str()), 0);
  g_app.temp_copy = true;
  ASSERT_TRUE(prepare_installation());
  ASSERT_TRUE(install_step());
  EXPECT_EQ(g_install.program, entry(0));
  heard.events.clear();

  // Cancel at the prompt and No to ending setup ask again; then Yes gives up.
  answers = {ANSWER_CANCEL, ANSWER_NO, ANSWER_CANCEL, ANSWER_YES, ANSWER_OK};
  EXPECT_FALSE(install_step());
  EXPECT_EQ(g_install.error_code, 15u);
  EXPECT_EQ(asked, (std::vector<std::string>{"Insert disk 2", "Stop the installation?",
                                             "Insert disk 2", "Stop the installation?",
                                             "The installation was cancelled."}));
  EXPECT_EQ(g_install.program, nullptr);
  EXPECT_EQ(heard.events, (std::vector<std::string>{"file " + path("b.txt"), "abandoned"}));
  EXPECT_FALSE(file_exists(path("b.txt")));
  EXPECT_FALSE(file_exists(path("b.$$A")));
}
