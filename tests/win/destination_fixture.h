// The destination page's tests share: a disk whose figures the test sets (in
// place of GetDiskFreeSpaceA), the texts the page shows, the built-in dialog
// templates of the builder (the real destination page and folder browser),
// and the page hosted as a real child dialog.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "builder/templates.h"
#include "common/heap.h"
#include "common/state.h"
#include "package/package.h"
#include "support/install_package.h"
#include "ui/destination_page.h"
#include "ui/ui.h"
#include "win/install_page_host.h"

// The figures a GetDiskFreeSpaceA stand-in reports, and the roots it was
// asked about.
struct FakeDisk {
  bool readable = true;
  DWORD sectors_per_cluster = 8, bytes_per_sector = 512, free_clusters = 0;
  std::vector<std::string> roots;
};
inline FakeDisk g_fake_disk;

inline BOOL WINAPI fake_disk_query(LPCSTR root, LPDWORD sectors, LPDWORD bytes, LPDWORD free,
                                   LPDWORD total) {
  g_fake_disk.roots.push_back(root);
  if (!g_fake_disk.readable) return FALSE;
  *sectors = g_fake_disk.sectors_per_cluster;
  *bytes = g_fake_disk.bytes_per_sector;
  *free = g_fake_disk.free_clusters;
  *total = g_fake_disk.free_clusters;
  return TRUE;
}

// Makes the disk report 4 KB clusters, `free_clusters` of them free.
inline void use_fake_disk(DWORD free_clusters) {
  g_fake_disk = FakeDisk{};
  g_fake_disk.free_clusters = free_clusters;
  set_disk_free_space_query(fake_disk_query);
}

// The builder's built-in templates (resources/templates.rc).
inline const std::vector<std::vector<uint8_t>>& builtin_templates() {
  static std::vector<std::vector<uint8_t>> t = pakwiz::load_templates("", pakwiz::SourcePos{});
  return t;
}

// Replaces the loaded package's template record by the built-in one, so that
// the folder browser runs on the real template 7.
inline void use_builtin_template_record() {
  std::vector<uint8_t> record = pakwiz::build_template_record(builtin_templates());
  heap_free(g_package.templates.data);
  g_package.templates.data = (uint8_t*)heap_alloc(record.size());
  memcpy(g_package.templates.data, record.data(), record.size());
  g_package.templates.size = (uint32_t)record.size();
}

// Texts of the destination page, its messages and the browser's labels.
inline LanguageMaker destination_language(uint16_t flags = LANG_FOLDER_CHANGEABLE) {
  LanguageMaker lang;
  lang.flags = flags;
  lang.table(1, {"Information", "Read this first."});
  lang.table(2, {"Destination", "Setup installs into this folder.", "Or type another one.", "",
                 "Click Next.", "Space needed:", "Space free:", "%d MB"});
  std::vector<std::string> messages = install_messages();
  messages[1] = "Pick a folder";
  messages[2] = "Folder:";
  messages[3] = "Drives:";
  messages[4] = "Checking the folder...";
  messages[5] = "The folder cannot be created.";
  messages[6] = "Create the folder?";
  messages[8] = "Setup cannot install here.";
  messages[9] = "%s is write-protected.";
  messages[11] = "Not enough space. Install anyway?";
  lang.table(6, messages);
  lang.table(7, {"< Back", "Next >", "Cancel", "Install", "Take it", "Never mind"});
  return lang;
}

// The destination page (the built-in template 2) as a child of the main
// dialog stand-in.
class DestinationPageTest : public PageHostTest {
protected:
  DestinationPageTest() : PageHostTest(4) {}
  void TearDown() override {
    set_disk_free_space_query(nullptr);
    g_ui.read_only_files_found = false;
    PageHostTest::TearDown();
  }
  void load_files(std::vector<PackedFile> files,
                  const LanguageMaker& lang = destination_language()) {
    LanguageMaker copy = lang;
    release_package();
    load(std::move(files), Bytes(), &copy);
    use_builtin_template_record();
  }
  void open_page() {
    page = create_page(host, builtin_templates()[2], destination_page_proc);
    ASSERT_TRUE(page);
  }
  // Sends a button's command to the page as the main dialog does; true when
  // the page claims it (the main dialog then leaves it alone).
  bool claimed(int id) {
    return SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0) != 0;
  }
  void type_folder(const std::string& text) { SetDlgItemTextA(page, IDC_FOLDER, text.c_str()); }
};

inline PackedFile text_file(const std::string& target, size_t size, uint8_t removal = 1,
                            uint8_t destination = 0) {
  PackedFile f;
  f.entry.strings[0] = target;
  f.entry.removal = removal;
  f.entry.destination = destination;
  f.content = Bytes(size, 'x');
  return f;
}
