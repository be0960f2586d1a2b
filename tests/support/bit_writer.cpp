#include "support/bit_writer.h"

BitWriter& BitWriter::bits(uint32_t value, unsigned count) {
  for (unsigned i = 0; i < count; i++, bit_count_++) {
    if (bit_count_ % 8 == 0) out_.push_back(0);
    if ((value >> i) & 1) out_.back() |= (uint8_t)(1u << (bit_count_ % 8));
  }
  return *this;
}

BitWriter& BitWriter::code(uint32_t codeword, unsigned length) {
  for (unsigned i = length; i-- > 0;) bits((codeword >> i) & 1, 1);
  return *this;
}

BitWriter& BitWriter::align() {
  while (bit_count_ % 8) bits(0, 1);
  return *this;
}

std::vector<uint8_t> BitWriter::bytes() const {
  return out_;
}

std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
  unsigned count[16] = {}, next[16] = {};
  for (uint8_t len : lengths) count[len]++;
  count[0] = 0;
  for (unsigned len = 1, code = 0; len < 16; len++) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); s++)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

void put_fixed_symbol(BitWriter& w, unsigned sym) {
  if (sym < 144)
    w.code(0x30 + sym, 8);
  else if (sym < 256)
    w.code(0x190 + (sym - 144), 9);
  else if (sym < 280)
    w.code(sym - 256, 7);
  else
    w.code(0xC0 + (sym - 280), 8);
}

void put_fixed_match(BitWriter& w, unsigned length, unsigned distance) {
  static const unsigned LBASE[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                     15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                     67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const unsigned LEXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const unsigned DBASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                     33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                     1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  static const unsigned DEXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                      6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  unsigned l = 28;
  while (LBASE[l] > length) l--;
  put_fixed_symbol(w, 257 + l);
  w.bits(length - LBASE[l], LEXTRA[l]);
  unsigned d = 29;
  while (DBASE[d] > distance) d--;
  w.code(d, 5);
  w.bits(distance - DBASE[d], DEXTRA[d]);
}
