// The file archive: the data behind the package's end marker, continued in
// volume files ".D01", ".D02", ... beside the package file. Callers address
// it by one archive position that runs on from one volume into the next.
// Volume n >= 1 begins with a u32 size of the data it holds; volume 0 is the
// package file, whose archive data start 4 bytes behind archive_offset.
//
// The reader is read forward: a position in an earlier volume than the
// current one cannot be reached again. The path of the current volume is
// g_app.archive_path (260 bytes); a volume name that would not fit counts as
// a missing volume.
//
// Missing volumes: without g_app.temp_copy the reader fails at once (error
// 18, error file name = the volume's path). As the temporary copy made from
// removable media it asks for the disk (string 28 of table 6 with the disk
// number, the package file being disk 1) until the volume opens or the user
// confirms giving up (strings 13 and 15); giving up ends the wizard
// (g_wizard.page_result = PAGE_END), clears the end-of-setup actions and is
// error 15. A failed volume change is retried by the next call: the reader
// does not skip a volume.
#pragma once
#include <stdint.h>

#include "common/file.h"

struct ArchiveState {
  FileHandle handle;       // open volume, or INVALID_FILE
  uint32_t volume;         // 0 = the package file
  uint32_t bytes_done;     // data bytes of all earlier volumes
  uint32_t volume_size;    // data bytes of the current volume
  int32_t bytes_left;      // data bytes of the current volume behind the read position
  uint32_t archive_offset; // file position of the archive size word in the package file
  bool volume_pending;     // the last volume change failed: the next one retries `volume`
  int error;               // 0, or 15 / 18 from the last failed volume change
  uint32_t archive_size;   // data bytes of volume 0, as the package loader read them
};
extern ArchiveState g_archive;

// Prepares reading at the start of the archive: volume 0 = the package file
// (g_app.package_path, copied into g_app.archive_path), positioned just
// behind its archive size word, with archive_size (the loader's value) as the
// volume size. The word is not read again: a script that ended without one
// (the archive wholly in the volume files) has a volume 0 of 0 bytes. 0, or 16
// when the file cannot be opened or positioned (error file name = the path).
int open_archive();
// Closes the current volume (the state stays for inspection).
void close_archive();

// Places the archive handle at archive position `position`, changing volumes
// forward as needed; a position equal to the end of a volume lies in the
// next one. 0, 15 (the user gave up at the disk prompt) or 18 (a volume is
// missing or cannot be positioned; error file name = its path).
int SeekArchive(uint32_t position);
// Reads `count` bytes from `handle`, continuing in the next volume when the
// current one runs out (at most one volume change per call; a short read
// from the next volume is not reported, *got tells). 0 success, 1 failure
// (the next volume could not be had; g_archive.error tells why). The caller
// that read from g_archive.handle takes g_archive.handle afterwards.
int ReadArchive(FileHandle handle, void* buffer, uint32_t count, uint32_t* got);
// Closes the current volume and opens the one where reading continues: the
// same volume again at its read position when it was cut short (bytes_left
// not 0), else the next one. Returns its handle or INVALID_FILE.
FileHandle NextVolume();
// Gives back the last `count` bytes read with ReadArchive: moves `handle`
// back by count (at most to the start of the current volume's data when it
// is the archive handle) and adds them to bytes_left.
void UnreadArchive(FileHandle handle, uint32_t count);
