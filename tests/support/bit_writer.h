// A tiny bit writer for hand-made compressed streams: bits are packed least
// significant first, Huffman codewords most significant bit first, as the
// decoder reads them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

class BitWriter {
public:
  // The low `count` bits of value, least significant first (count <= 32).
  BitWriter& bits(uint32_t value, unsigned count);
  // A Huffman codeword of `length` bits, its most significant bit first.
  BitWriter& code(uint32_t codeword, unsigned length);
  // Zero bits up to the next byte boundary.
  BitWriter& align();
  BitWriter& byte(uint8_t b) { return bits(b, 8); }
  // The bytes written so far, a partial last byte padded with zero bits.
  std::vector<uint8_t> bytes() const;
  size_t bit_count() const { return bit_count_; }

private:
  std::vector<uint8_t> out_;
  size_t bit_count_ = 0;
};

// Canonical codewords for a list of code lengths (0 = symbol unused).
std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths);

// Fixed-code symbols: literal/length symbol `sym` (0-287) and the length and
// distance of a match with their extra bits.
void put_fixed_symbol(BitWriter& w, unsigned sym);
void put_fixed_match(BitWriter& w, unsigned length, unsigned distance);
