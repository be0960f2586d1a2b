// Test packages for the installation: a one-language package whose archive
// holds each file's content as one compressed stream, loaded as the running
// package, with a recording message answerer.
#pragma once
#include <gtest/gtest.h>

#include <stdint.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/package_maker.h"
#include "support/temp_dir.h"

struct PackedFile {
  EntryMaker entry; // position, packed size, size and checksum are filled in
  Bytes content;
  bool wrong_checksum = false; // store a checksum that does not match the content
};

// Table 6 with the messages the installation uses ("%s" where they name a path).
std::vector<std::string> install_messages();

class InstallTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Builds, writes (as dir/setup.exe) and loads the package; the install
  // folder becomes dir/app/ (with a trailing separator). `customize` may add
  // records or change the language record before the package is written.
  void load(std::vector<PackedFile> files, const Bytes& prefix = Bytes(),
            LanguageMaker* language = nullptr);
  // Entry i of the current block's file list.
  uint8_t* entry(uint32_t i);

public:
  // Scripted answers to message boxes (taken in order; ANSWER_NO when none
  // is left) and the texts asked.
  std::deque<int> answers;
  std::vector<std::string> asked;
  std::vector<unsigned> styles;
  // Called inside each question before it is answered (e.g. to unlock a file).
  std::function<void()> while_asking;

  // Archive bytes that load() keeps in the package file; the rest goes to
  // the volume file setup.D01 beside it.
  size_t archive_in_package = SIZE_MAX;

protected:
  TempDir dir;
  std::string install_folder; // with a trailing separator
};

// Sets or clears the read-only attribute (write permission on POSIX).
void make_read_only(const std::string& path, bool read_only);
bool file_is_read_only(const std::string& path);
Bytes text_bytes(const std::string& s);
// A file of the package: its target name and content, installed into the
// folder of kind `destination` (0: the install folder).
PackedFile packed_file(const std::string& target, const std::string& content,
                       uint8_t destination = 0);

#ifdef _WIN32
// PendingFileRenameOperations of the Session Manager key under HKLM, with
// its NULs shown as '|' ("" when absent), and putting a value read so back
// (removing it when "").
std::string pending_renames();
void set_pending_renames(const std::string& saved);
#endif
