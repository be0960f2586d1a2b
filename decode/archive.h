// The file archive: the data behind the package's end marker, continued in
// volume files ".D01", ".D02", ... beside the package file. Callers address
// it by one archive position that runs on from one volume into the next.
// Volume n >= 1 begins with a u32 size of the data it holds.
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
};
extern ArchiveState g_archive;

// Places the archive handle at archive position `position`: 0, 15 (the user
// gave up at the disk prompt) or 18 (a volume is missing; error file name =
// the archive path).
int SeekArchive(uint32_t position);
// Reads `count` bytes, continuing in the next volume when the current one
// runs out (at most one volume change per call). 0 success, 1 failure; *got
// receives the bytes read.
int ReadArchive(FileHandle handle, void* buffer, uint32_t count, uint32_t* got);
// Closes the current volume and opens the one where reading continues;
// returns its handle or INVALID_FILE.
FileHandle NextVolume();
