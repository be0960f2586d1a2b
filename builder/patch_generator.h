// Patches for patched file entries: the command and data streams that turn a
// base file into a target file (the format is described in decode/patch.h),
// and the packed blobs that carry them in the archive.
//
// The generator is greedy: at each target position it looks for the longest
// run of equal bytes in the base among a few candidates (the base position
// right behind the last copy, the one that keeps the last copy's alignment
// across replaced bytes, and positions found through a hash index of the
// base's 4-byte sequences), takes it when it is cheaper than literal bytes
// (a match found through the index must be `hashed_factor` times as long
// as its own cost, so that chance matches do not pull the base cursor away)
// and when the next position does not start a clearly longer one; otherwise
// it passes one literal byte on. Copies may be of any length (long ones are
// split at 65,664 bytes); displacements reach 2,113,567 bytes either way
// from the base cursor, so a base position farther away is not used.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace pakwiz {

struct PatchStreamBytes {
  std::vector<uint8_t> commands;
  std::vector<uint8_t> data;
};

// The commands and literal data that rebuild `target` from `base`.
PatchStreamBytes generate_patch(const uint8_t* base, size_t base_size, const uint8_t* target,
                                size_t target_size, uint32_t hashed_factor = 2);

// A packed blob of `content`: compressed at `level` when that is smaller than
// storing it, with 2-byte size fields where the values fit. Empty content is
// the absent blob (flags 0, size 0).
std::vector<uint8_t> pack_blob(const std::vector<uint8_t>& content, int level);

// A patch as the archive holds it: the command blob and then the data blob.
// The streams are made with a few settings of `hashed_factor` and the
// smallest packed patch is kept.
std::vector<uint8_t> make_patch(const std::vector<uint8_t>& base,
                                const std::vector<uint8_t>& target, int level);

} // namespace pakwiz
