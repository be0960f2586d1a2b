// Bitmaps for the billboard and the background, brought into the one form
// the setup program draws: a 14-byte file header, a 40-byte
// BITMAPINFOHEADER, the colour table (all 2, 16 or 256 entries for 1, 4 and
// 8 bits per pixel, none above), then bottom-up uncompressed pixel rows.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace pakwiz {

struct BitmapInfo {
  int32_t width, height; // height > 0 after normalising
  uint16_t bit_count;
};

// Accepts an uncompressed BMP (BI_RGB, or BI_BITFIELDS with the default
// masks) with an information header of 40 bytes or more, top-down or
// bottom-up, and returns it normalised. Throws BuildError naming `what` for
// anything else (not a BMP, compressed, truncated, zero size).
std::vector<uint8_t> normalize_bitmap(const std::vector<uint8_t>& bmp, const std::string& what,
                                      BitmapInfo* info = nullptr);

// Reads the size of a normalised bitmap (as stored in a package); false when
// the data is too short to hold the headers.
bool bitmap_info(const std::vector<uint8_t>& bmp, BitmapInfo* info);

} // namespace pakwiz
