// The destination page's helpers that tests reach directly: the figures of
// the disk that holds a folder, the space and access check run on Next, and
// the folder browser.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "package/script.h"

// Free space of the disk that holds `path`, in kilobytes, or SPACE_UNKNOWN
// when it cannot be read. A path with a drive letter is asked about its root
// (C:\); a network path (\\server\share\...) is passed as it stands. The
// bytes free to this user come from GetDiskFreeSpaceExA where the system has
// it (GetDiskFreeSpaceA stops at 2 GB), else from the free clusters. A disk
// with 4 TB or more free reads as SPACE_UNKNOWN - 1.
static const uint32_t SPACE_UNKNOWN = 0xFFFFFFFFu;
uint32_t free_space_kb(const char* path);
// Cluster size of that disk in kilobytes (rounded up); 32 when unknown.
uint32_t cluster_size_kb(const char* path);

// Test seam: the calls that read the disk figures. A null `query` restores
// GetDiskFreeSpaceA and GetDiskFreeSpaceExA; with a stand-in `query`, a null
// `ex_query` is a system without the second call.
typedef BOOL(WINAPI* DiskFreeSpaceQuery)(LPCSTR root, LPDWORD sectors_per_cluster,
                                         LPDWORD bytes_per_sector, LPDWORD free_clusters,
                                         LPDWORD total_clusters);
typedef BOOL(WINAPI* DiskFreeSpaceExQuery)(LPCSTR root, PULARGE_INTEGER available,
                                           PULARGE_INTEGER total, PULARGE_INTEGER free);
void set_disk_free_space_query(DiskFreeSpaceQuery query, DiskFreeSpaceExQuery ex_query = nullptr);

// The folder name in g_app.install_folder (as typed: relative, with or
// without a trailing backslash) made a full path without its trailing
// backslash. False, naming what was typed in g_app.error_file_name, when it
// is no folder name, cannot be made a full path, leaves no room in the path
// buffers for the files' names, or did not fit (`fits` false).
bool take_folder_name(bool fits);
// Makes sure the install folder exists, creating it when the user agrees
// (question 6; message 5 when it cannot be made). The process's current
// folder is left in it.
bool have_install_folder();

// Results of the space and access check (message numbers).
enum CheckResult {
  CHECK_OK = 0,
  CHECK_NOT_WRITABLE = MESSAGE_WRITE_PROTECTED,
  CHECK_LOW_SPACE = MESSAGE_LOW_SPACE,
};

// Walks the current block's file list against the install folder (ending
// with a backslash): adds up the clusters that the files will take beyond
// what the files they replace take already, and makes sure that every file
// to be replaced can be written. Sets g_ui.read_only_files_found when a
// target was read-only (it is left read-only); a font that is already
// installed is kept at uninstall (its removal mode 1 becomes 0 in the
// loaded entry). CHECK_NOT_WRITABLE names the file in g_app.error_file_name.
CheckResult check_space_and_access();

// The folder browser: a modal save-file common dialog on template 7 of the
// package, started in `folder` (260 bytes). True when the user confirmed a
// folder, which is then in `folder`; false (folder unchanged) on Cancel or
// when the dialog cannot be shown.
bool browse_for_folder(HWND owner, char* folder);
