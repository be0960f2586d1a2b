#include "builder/archive_layout.h"

#include <stddef.h>

#include <algorithm>
#include <map>

namespace pakwiz {

uint32_t VolumePlan::volume_of(uint64_t position) const {
  if (!split() || position < first) return 0;
  return (uint32_t)(1 + (position - first) / each);
}

uint64_t VolumePlan::volume_bytes(uint32_t v, uint64_t total) const {
  if (!split()) return v == 0 ? total : 0;
  if (v == 0) return total < first ? total : first;
  uint64_t start = first + (uint64_t)(v - 1) * each;
  if (total <= start) return 0;
  return total - start < each ? total - start : each;
}

uint32_t VolumePlan::volume_count(uint64_t total) const {
  if (!split() || total <= first) return 1;
  return (uint32_t)(1 + (total - first + each - 1) / each);
}

ArchiveLayout lay_out_archive(const std::vector<std::vector<int64_t>>& blocks,
                              const std::vector<uint64_t>& packed, const VolumePlan& plan) {
  return lay_out_archive(blocks, packed, plan, {});
}

namespace {

// Lays the blocks out in the given order (each block's entries in list order).
ArchiveLayout lay_out_in_order(const std::vector<size_t>& order,
                               const std::vector<std::vector<int64_t>>& blocks,
                               const std::vector<uint64_t>& packed, const VolumePlan& plan,
                               const std::vector<std::vector<EntryRef>>& bases) {
  auto base_of = [&](size_t b, size_t i) {
    return b < bases.size() && i < bases[b].size() ? bases[b][i] : EntryRef{};
  };

  ArchiveLayout layout;
  layout.positions.resize(blocks.size());
  std::vector<std::vector<bool>> placed(blocks.size());
  for (size_t b = 0; b < blocks.size(); b++) {
    layout.positions[b].assign(blocks[b].size(), 0);
    placed[b].assign(blocks[b].size(), false);
  }
  std::map<int64_t, uint64_t> latest; // content -> position of its latest copy

  // A copy of `content` that a walk standing in volume `floor` can read.
  auto place = [&](int64_t content, uint32_t floor) {
    auto it = latest.find(content);
    if (it != latest.end() && plan.volume_of(it->second) >= floor) return it->second;
    uint64_t position = layout.size;
    layout.pieces.push_back(ArchivePiece{content, position});
    latest[content] = position;
    layout.size += packed[(size_t)content];
    return position;
  };
  auto end_volume = [&](uint64_t position, int64_t content) {
    uint64_t size = packed[(size_t)content];
    return plan.volume_of(size ? position + size - 1 : position);
  };

  for (size_t b : order) {
    uint32_t floor = 0; // volume where the reads of this block's earlier entries ended
    for (size_t i = 0; i < blocks[b].size(); i++) {
      int64_t content = blocks[b][i];
      if (content == NO_CONTENT) continue;
      EntryRef r = base_of(b, i);
      if (r.valid() && (size_t)r.block < blocks.size() &&
          (size_t)r.entry < blocks[(size_t)r.block].size() &&
          blocks[(size_t)r.block][(size_t)r.entry] != NO_CONTENT) {
        size_t bb = (size_t)r.block, be = (size_t)r.entry;
        int64_t base_content = blocks[bb][be];
        if (!placed[bb][be]) {
          layout.positions[bb][be] = place(base_content, floor);
          placed[bb][be] = true;
        }
        uint64_t at = layout.positions[bb][be];
        if (plan.volume_of(at) < floor) {
          layout.conflict = LayoutConflict{b, i, true, plan.volume_of(at), floor};
          return layout;
        }
        floor = std::max(floor, end_volume(at, base_content));
      }
      uint64_t position;
      if (placed[b][i]) { // an earlier patch needed it as its base
        position = layout.positions[b][i];
        if (plan.volume_of(position) < floor) {
          layout.conflict = LayoutConflict{b, i, false, plan.volume_of(position), floor};
          return layout;
        }
      } else {
        position = place(content, floor);
        layout.positions[b][i] = position;
        placed[b][i] = true;
      }
      floor = std::max(floor, end_volume(position, content));
    }
  }
  return layout;
}

} // namespace

ArchiveLayout lay_out_archive(const std::vector<std::vector<int64_t>>& blocks,
                              const std::vector<uint64_t>& packed, const VolumePlan& plan,
                              const std::vector<std::vector<EntryRef>>& bases) {
  std::vector<size_t> order(blocks.size());
  for (size_t b = 0; b < order.size(); b++) order[b] = b;
  ArchiveLayout first = lay_out_in_order(order, blocks, packed, plan, bases);
  bool patched = false;
  for (const std::vector<EntryRef>& list : bases)
    for (const EntryRef& r : list) patched = patched || r.valid();
  if (!first.conflict || !patched) return first;
  // The order of the blocks is free (only each block's own walk counts), and
  // a block laid out earlier fixes the bases its patches need: try the
  // other orders (at most 720) before giving up.
  while (std::next_permutation(order.begin(), order.end())) {
    ArchiveLayout l = lay_out_in_order(order, blocks, packed, plan, bases);
    if (!l.conflict) return l;
  }
  return first;
}

} // namespace pakwiz
