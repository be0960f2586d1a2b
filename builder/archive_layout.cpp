#include "builder/archive_layout.h"

#include <stddef.h>

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
  ArchiveLayout layout;
  std::map<int64_t, uint64_t> latest; // content -> position of its latest copy
  for (const std::vector<int64_t>& block : blocks) {
    std::vector<uint64_t> positions;
    uint32_t floor = 0; // volume where the reads of this block's earlier entries ended
    for (int64_t content : block) {
      if (content == NO_CONTENT) {
        positions.push_back(0);
        continue;
      }
      uint64_t size = packed[(size_t)content];
      auto it = latest.find(content);
      uint64_t position;
      if (it != latest.end() && plan.volume_of(it->second) >= floor) {
        position = it->second;
      } else {
        position = layout.size;
        layout.pieces.push_back(ArchivePiece{content, position});
        latest[content] = position;
        layout.size += size;
      }
      positions.push_back(position);
      uint32_t end_volume = plan.volume_of(size ? position + size - 1 : position);
      if (end_volume > floor) floor = end_volume;
    }
    layout.positions.push_back(positions);
  }
  return layout;
}

} // namespace pakwiz
