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
// removable media it asks for the disk through the disk request that the
// install driver installs, until the volume opens or the user gives up,
// which is error 15. A failed volume change is retried by the next call: the
// reader does not skip a volume.
#pragma once
#include <stdint.h>

#include "common/file.h"
#include "decode/stream_decoder.h"

// The disk request: volume `disk_number` (counted from 1, the package file
// being disk 1) is missing. True: the user has inserted it, try again;
// false: the user gave up. Without a request installed a missing volume
// fails at once, as without the temporary copy.
typedef bool (*DiskRequest)(uint32_t disk_number, void* context);
void set_disk_request(DiskRequest request, void* context);

struct ArchiveState {
  FileHandle handle;            // open volume, or INVALID_FILE
  uint32_t volume;              // 0 = the package file
  uint32_t bytes_done;          // data bytes of all earlier volumes
  uint32_t volume_size;         // data bytes of the current volume
  int32_t bytes_left;           // data bytes of the current volume behind the read position
  uint32_t archive_offset;      // file position of the archive size word in the package file
  bool volume_pending;          // the last volume change failed: the next one retries `volume`
  int error;                    // 0, or 15 / 18 from the last failed volume change
  uint32_t archive_size;        // data bytes of volume 0, as the package loader read them
  const uint8_t* volume_checks; // the integrity record's volume list, or null
  uint32_t volume_check_count;
};
extern ArchiveState g_archive;

// Where the archive lies in the package file: `offset` of its size word,
// whose value is `size` (set by the package loader, which read the word).
void set_archive_location(uint32_t offset, uint32_t size);

// The integrity record's list of `count` volume files (each u32 data bytes,
// u32 CRC-32 of the whole file), kept by the caller for the run; null when
// the package has none. A volume file that the list describes is read whole
// and compared when it is opened, before any of its data is used: one that
// differs, or that the list does not hold, counts as missing (error 18, or
// the disk prompt again on removable media).
void set_volume_checks(const uint8_t* list, uint32_t count);

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
// next one. 0 (g_archive.error is cleared), 15 (the user gave up at the disk
// prompt) or 18 (a volume is missing or cannot be positioned; error file
// name = its path).
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

// The archive as a decoder's input: reads at the archive's read position
// through ReadArchive, continuing in the next volume (the volume handle is
// taken afresh for every read), and gives bytes back with UnreadArchive. A
// read fails when the next volume cannot be had (g_archive.error tells
// why). Decode with the stream's packed size as the budget, so that nothing
// behind the stream is fetched: a stream that decodes then leaves the
// position exactly behind its last byte, in whichever volume that is. Bytes
// of an earlier volume cannot be given back (the archive is read forward),
// so a decode that fails after reading ahead into the next volume ends at
// that volume's start.
class ArchiveSource : public InputSource {
public:
  int IsReady() override { return g_archive.handle != INVALID_FILE; }
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got) override;
  void Unread(uint32_t count) override;
};
