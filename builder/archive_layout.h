// Where each file's data goes in the archive, and how the archive is cut
// into volumes.
//
// Archive positions run on from the package file (volume 0) into the volume
// files .D01, .D02, ...; a position in the first `first` bytes lies in volume
// 0, the next `each` bytes in volume 1, and so on.
//
// Sharing identical contents. The setup program installs one language block
// by walking its file list in order, seeking to each entry's data and reading
// it forward; it can seek backwards within the volume it is reading but never
// back into an earlier volume. So a content already stored is reused for an
// entry only when the stored copy lies in the volume where the reads of the
// earlier entries of that block's list ended, or in a later one. Otherwise
// the content is stored again at the end of the archive. Without volumes
// every identical content is stored once.
//
// Patched entries. For a patched entry the setup program first reads its
// base entry's data (at the base entry's own position, which may belong to
// another block) and then the patch at the entry's position. Both reads are
// part of the block's forward walk: the base's data must lie in the volume
// where the walk has got to, or later, and the patch is placed behind the
// base's data. A base entry whose block is laid out later (or that comes
// later in the same list) gets its position when the first patch needs it.
// Blocks are laid out in list order; when that would send a walk back a
// volume, the other orders of the blocks are tried, and when none works the
// layout reports the conflict (a base already stored in an earlier volume
// than the walk has reached). Without volumes there is never a conflict.
#pragma once
#include <stdint.h>

#include <optional>
#include <vector>

namespace pakwiz {

struct VolumePlan {
  static const uint64_t UNLIMITED = UINT64_MAX;
  uint64_t first = UNLIMITED; // archive bytes held by the package file
  uint64_t each = 0;          // archive bytes held by each volume file
  bool split() const { return first != UNLIMITED; }
  // The volume holding archive position `position` (0 = the package file).
  uint32_t volume_of(uint64_t position) const;
  // Archive bytes held by volume v of an archive of `total` bytes.
  uint64_t volume_bytes(uint32_t v, uint64_t total) const;
  // Number of files the archive occupies (at least 1: the package file).
  uint32_t volume_count(uint64_t total) const;
};

const int64_t NO_CONTENT = -1;

struct ArchivePiece {
  int64_t content;   // index into the packed sizes
  uint64_t position; // where its stored copy starts
};

// The base entry of a patched entry (block < 0: the entry is no patch).
struct EntryRef {
  int block = -1, entry = -1;
  bool valid() const { return block >= 0; }
};

// An entry whose data (or whose base's data, with `base` set) would lie in
// an earlier volume than the one its block's walk has reached.
struct LayoutConflict {
  size_t block = 0, entry = 0;
  bool base = false;
  uint32_t volume = 0;        // where the data lie
  uint32_t reader_volume = 0; // where the walk has got to
};

struct ArchiveLayout {
  std::vector<ArchivePiece> pieces;             // stored copies in archive order
  std::vector<std::vector<uint64_t>> positions; // [block][entry]; 0 for entries without data
  uint64_t size = 0;                            // archive bytes
  std::optional<LayoutConflict> conflict;       // set: the layout is unusable
};

// Lays out the archive. blocks[b][i] is the content of entry i of block b
// (NO_CONTENT for an entry without data); packed[c] is the stored size of
// content c. Blocks are laid out in order, entries in list order, each new
// copy appended at the end. Positions are not limited here; the caller
// checks the total against the format's 32-bit positions.
ArchiveLayout lay_out_archive(const std::vector<std::vector<int64_t>>& blocks,
                              const std::vector<uint64_t>& packed, const VolumePlan& plan);
// The same with patched entries: bases[b][i] names the base entry of entry
// i of block b (bases may be empty, or hold invalid refs for other entries).
// A base entry must have content.
ArchiveLayout lay_out_archive(const std::vector<std::vector<int64_t>>& blocks,
                              const std::vector<uint64_t>& packed, const VolumePlan& plan,
                              const std::vector<std::vector<EntryRef>>& bases);

} // namespace pakwiz
