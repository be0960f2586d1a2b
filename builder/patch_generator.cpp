#include "builder/patch_generator.h"

#include <string.h>

#include <algorithm>

#include "builder/bytes.h"
#include "builder/encoder.h"
#include "common/package_format.h"

namespace pakwiz {

namespace {

const uint32_t HASHED_BYTES = 4;       // a hash index entry covers 4 base bytes
const uint32_t CHAIN_LIMIT = 16;       // hash candidates looked at per position
const uint32_t LONG_ENOUGH = 64;       // a cheap candidate this long ends the search
const uint32_t MATCH_LIMIT = 1u << 20; // one look compares at most this much
const uint32_t LONGEST_COPY = 65664;
const uint32_t LONGEST_INSERT = 32;
const int64_t FARTHEST_FORWARD = 2113567, FARTHEST_BACK = -2113568;

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Bytes of a displacement in the command stream.
int displacement_bytes(int64_t d) {
  if (d >= -32 && d <= 31) return 1;
  if (d >= -16416 && d <= 16415) return 2;
  return 3;
}

class Generator {
public:
  Generator(const uint8_t* base, uint32_t base_size, const uint8_t* target, uint32_t target_size,
            uint32_t hashed_factor)
      : base_(base), bn_(base_size), target_(target), tn_(target_size),
        hashed_factor_(hashed_factor) {}

  PatchStreamBytes run() {
    index_base();
    uint32_t t = 0;
    while (t < tn_) {
      Match m = best_match(t);
      if (!m.len) {
        t++;
        continue;
      }
      // One byte later may start a clearly longer copy: then this byte
      // stays literal.
      if (m.len < LONG_ENOUGH && t + 1 < tn_ && best_match(t + 1).len > m.len + 1) {
        t++;
        continue;
      }
      // Equal bytes just before the match need not stay literal.
      while (t > literal_start_ && m.s > 0 && base_[m.s - 1] == target_[t - 1] &&
             (int64_t)m.s - 1 - cursor_ >= FARTHEST_BACK) {
        m.s--;
        t--;
        m.len++;
      }
      emit_copy(m.s, t, m.len);
      t += m.len;
      literal_start_ = t;
    }
    emit_inserts(target_ + literal_start_, tn_ - literal_start_);
    return std::move(out_);
  }

private:
  struct Match {
    uint32_t s = 0, len = 0;
    int cost = 0; // bytes of the copy command and its displacement
  };

  const uint8_t* base_;
  uint32_t bn_;
  const uint8_t* target_;
  uint32_t tn_;
  uint32_t hashed_factor_;
  int bits_ = 10;
  std::vector<uint32_t> first_, positions_;
  uint32_t cursor_ = 0;        // the applier's base cursor after the commands so far
  uint32_t literal_start_ = 0; // target bytes from here to the current position are literal
  PatchStreamBytes out_;

  uint32_t hash(const uint8_t* p) const { return (load32(p) * 2654435761u) >> (32 - bits_); }

  // Base positions by the hash of their first 4 bytes: bucket h holds its
  // positions in ascending order in positions_[first_[h], first_[h + 1]).
  // Inside a run of one repeated byte only the run's first position is
  // indexed: the match from there extends through the run anyway.
  void index_base() {
    if (bn_ < HASHED_BYTES) return;
    while (bits_ < 22 && (1u << bits_) < bn_) bits_++;
    first_.assign(((size_t)1 << bits_) + 1, 0);
    auto indexed = [&](uint32_t i) { return i == 0 || load32(base_ + i) != load32(base_ + i - 1); };
    for (uint32_t i = 0; i + HASHED_BYTES <= bn_; i++)
      if (indexed(i)) first_[hash(base_ + i) + 1]++;
    for (size_t h = 1; h < first_.size(); h++) first_[h] += first_[h - 1];
    positions_.assign(first_.back(), 0);
    std::vector<uint32_t> fill(first_.begin(), first_.end() - 1);
    for (uint32_t i = 0; i + HASHED_BYTES <= bn_; i++)
      if (indexed(i)) positions_[fill[hash(base_ + i)]++] = i;
  }

  uint32_t match_length(uint32_t s, uint32_t t) const {
    uint32_t limit = bn_ - s < tn_ - t ? bn_ - s : tn_ - t;
    if (limit > MATCH_LIMIT) limit = MATCH_LIMIT;
    uint32_t n = 0;
    while (n + 8 <= limit) {
      uint64_t a, b;
      memcpy(&a, base_ + s + n, 8);
      memcpy(&b, target_ + t + n, 8);
      if (a != b) break;
      n += 8;
    }
    while (n < limit && base_[s + n] == target_[t + n]) n++;
    return n;
  }

  // Considers base position s for target position t. A copy must save
  // bytes against literals; one found through the hash index must be
  // hashed_factor_ times as long as its cost, since it also moves the base
  // cursor away from where the copies so far have led (short chance matches
  // would lose that thread) and literals cost less once compressed.
  void consider(uint32_t s, uint32_t t, bool hashed, Match& best) const {
    if (s >= bn_) return;
    int64_t d = (int64_t)s - cursor_;
    if (d < FARTHEST_BACK || d > FARTHEST_FORWARD) return;
    uint32_t len = match_length(s, t);
    int cost = displacement_bytes(d) + (len > 128 ? 3 : 1);
    if (len < 2 || len <= (uint32_t)cost || (hashed && len < hashed_factor_ * (uint32_t)cost))
      return;
    if (len > best.len || (len == best.len && cost < best.cost)) best = Match{s, len, cost};
  }

  // The longest worthwhile copy for target position t; len 0 when there is
  // none.
  Match best_match(uint32_t t) const {
    Match best;
    uint32_t pending = t - literal_start_;
    // Replaced bytes: the base position that keeps the last copy's alignment.
    if ((uint64_t)cursor_ + pending < bn_) consider(cursor_ + pending, t, false, best);
    // Inserted bytes: the base continues where the last copy ended.
    if (pending) consider(cursor_, t, false, best);
    if (best.len < LONG_ENOUGH && !first_.empty() && tn_ - t >= HASHED_BYTES) {
      // The bucket's positions nearest to where the copies have led first:
      // edits are mostly local, and near copies have short displacements.
      uint32_t h = hash(target_ + t);
      const uint32_t* lo = positions_.data() + first_[h];
      const uint32_t* hi = positions_.data() + first_[h + 1];
      uint64_t near64 = (uint64_t)cursor_ + pending;
      uint32_t near = near64 > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)near64;
      const uint32_t* up = std::lower_bound(lo, hi, near);
      const uint32_t* down = up;
      for (uint32_t n = 0; n < CHAIN_LIMIT && (up < hi || down > lo); n++) {
        bool take_up = up < hi && (down == lo || *up - near <= near - down[-1]);
        uint32_t s = take_up ? *up++ : *--down;
        // A candidate that cannot beat the best so far is passed over cheaply.
        if (best.len && (s + best.len >= bn_ || t + best.len >= tn_ ||
                         base_[s + best.len] != target_[t + best.len]))
          continue;
        consider(s, t, true, best);
        if (best.len >= MATCH_LIMIT) break;
      }
    }
    return best;
  }

  void emit_displacement(int64_t d) {
    std::vector<uint8_t>& c = out_.commands;
    if (d >= -32 && d <= 31) {
      c.push_back((uint8_t)(0x80 | (d & 0x3F)));
    } else if (d >= -16416 && d <= 16415) {
      uint32_t v = (uint32_t)(d >= 0 ? d - 32 : d + 32) & 0x7FFF;
      c.push_back((uint8_t)(v >> 8));
      c.push_back((uint8_t)v);
    } else {
      uint32_t v = (uint32_t)(d >= 0 ? d - 16416 : d + 16416) & 0x3FFFFF;
      c.push_back((uint8_t)(0xC0 | (v >> 16)));
      c.push_back((uint8_t)(v >> 8));
      c.push_back((uint8_t)v);
    }
  }

  void emit_inserts(const uint8_t* p, uint32_t n) {
    while (n) {
      uint32_t k = n < LONGEST_INSERT ? n : LONGEST_INSERT;
      out_.commands.push_back((uint8_t)(0x80 | (k - 1)));
      out_.data.insert(out_.data.end(), p, p + k);
      p += k;
      n -= k;
    }
  }

  // Copies len (>= 2) base bytes from s for target position t, after the
  // literal bytes pending before t.
  void emit_copy(uint32_t s, uint32_t t, uint32_t len) {
    const uint8_t* literal = target_ + literal_start_;
    uint32_t pending = t - literal_start_;
    int64_t d = (int64_t)s - cursor_;
    cursor_ = s + len;
    uint32_t rest = pending % LONGEST_INSERT;
    if (len <= 33 && rest >= 1 && rest <= 3) {
      // One command inserts the last 1 to 3 literal bytes and copies.
      emit_inserts(literal, pending - rest);
      out_.commands.push_back((uint8_t)(0x80 | (rest << 5) | (len - 2)));
      emit_displacement(d);
      out_.data.insert(out_.data.end(), literal + pending - rest, literal + pending);
      return;
    }
    emit_inserts(literal, pending);
    while (len) {
      uint32_t piece = len;
      if (piece > LONGEST_COPY) {
        piece = LONGEST_COPY;
        if (len - piece < 2) piece = len - 2; // no copy is shorter than 2 bytes
      }
      if (piece <= 128) {
        out_.commands.push_back((uint8_t)(piece - 1));
      } else {
        out_.commands.push_back(0);
        out_.commands.push_back((uint8_t)(piece - 129));
        out_.commands.push_back((uint8_t)((piece - 129) >> 8));
      }
      emit_displacement(d);
      d = 0; // the next piece follows on in the base
      len -= piece;
    }
  }
};

} // namespace

PatchStreamBytes generate_patch(const uint8_t* base, size_t base_size, const uint8_t* target,
                                size_t target_size, uint32_t hashed_factor) {
  return Generator(base, (uint32_t)base_size, target, (uint32_t)target_size, hashed_factor).run();
}

std::vector<uint8_t> pack_blob(const std::vector<uint8_t>& content, int level) {
  ByteWriter w;
  uint64_t size = content.size();
  if (size == 0) {
    w.u8(0);
    w.u16(0);
    return w.bytes;
  }
  bool wide_size = size > 0xFFFF;
  std::vector<uint8_t> stream = encode_stream(content.data(), content.size(), level);
  bool wide_packed = stream.size() > 0xFFFF;
  uint64_t stored_bytes = size;
  uint64_t compressed_bytes = (wide_packed ? 4 : 2) + stream.size();
  bool compressed = compressed_bytes < stored_bytes;
  w.u8((uint8_t)((compressed ? BLOB_COMPRESSED : 0) | (wide_size ? BLOB_WIDE_SIZE : 0) |
                 (compressed && wide_packed ? BLOB_WIDE_PACKED_SIZE : 0)));
  if (wide_size)
    w.u32((uint32_t)size);
  else
    w.u16((uint16_t)size);
  if (compressed) {
    if (wide_packed)
      w.u32((uint32_t)stream.size());
    else
      w.u16((uint16_t)stream.size());
    w.append(stream);
  } else {
    w.append(content);
  }
  return w.bytes;
}

std::vector<uint8_t> make_patch(const std::vector<uint8_t>& base,
                                const std::vector<uint8_t>& target, int level) {
  // How much a match found through the hash index must save is a guess at
  // what literal bytes cost once the data stream is compressed: text that
  // compresses well makes short copies a loss, since commands compress far
  // less. A few settings are tried and the smallest packed patch is kept.
  std::vector<uint8_t> best;
  for (uint32_t factor : {2u, 5u, 12u}) {
    PatchStreamBytes streams =
        generate_patch(base.data(), base.size(), target.data(), target.size(), factor);
    std::vector<uint8_t> patch = pack_blob(streams.commands, level);
    std::vector<uint8_t> data = pack_blob(streams.data, level);
    patch.insert(patch.end(), data.begin(), data.end());
    if (best.empty() || patch.size() < best.size()) best.swap(patch);
  }
  return best;
}

} // namespace pakwiz
