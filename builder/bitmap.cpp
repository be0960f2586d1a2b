#include "builder/bitmap.h"

#include "builder/bytes.h"
#include "builder/errors.h"

namespace pakwiz {

std::vector<uint8_t> normalize_bitmap(const std::vector<uint8_t>& bmp, const std::string& what,
                                      BitmapInfo* info) {
  const uint8_t* p = bmp.data();
  if (bmp.size() < 14 + 40 || p[0] != 'B' || p[1] != 'M') fail(what + " is not a BMP file");
  const uint8_t* h = p + 14;
  uint32_t header_size = read_u32(h);
  if (header_size < 40 || header_size > bmp.size() - 14)
    fail(what + ": unsupported BMP header (use a Windows BMP with a 40-byte or larger header)");
  int32_t width = (int32_t)read_u32(h + 4), height = (int32_t)read_u32(h + 8);
  uint16_t bits = read_u16(h + 14);
  uint32_t compression = read_u32(h + 16), colours_used = read_u32(h + 32);
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    fail(what + ": " + std::to_string(bits) + " bits per pixel is not supported");
  if (width <= 0 || height == 0 || width > 32768 || height > 32768 || height < -32768)
    fail(what + ": the image size " + std::to_string(width) + " x " + std::to_string(height) +
         " is not usable");

  size_t masks_end = 14 + header_size;
  if (compression == 3) { // BI_BITFIELDS: fine when the masks are the BI_RGB defaults
    const uint8_t* m = header_size >= 52 ? h + 40 : p + 14 + header_size;
    if (header_size < 52) masks_end += 12;
    if (masks_end > bmp.size() || (size_t)(m - p) + 12 > bmp.size())
      fail(what + ": the file ends inside its colour masks");
    uint32_t r = read_u32(m), g = read_u32(m + 4), b = read_u32(m + 8);
    bool plain = (bits == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF) ||
                 (bits == 16 && r == 0x7C00 && g == 0x3E0 && b == 0x1F);
    if (!plain) fail(what + ": colour masks other than the standard ones are not supported");
  } else if (compression != 0) {
    fail(what + ": compressed BMP files are not supported (save it uncompressed)");
  }

  // Colour table as stored in the file, and as the program expects it.
  size_t entries = 0;
  if (bits <= 8)
    entries = colours_used ? colours_used : (size_t)1 << bits;
  else
    entries = colours_used;
  if (entries > 256) fail(what + ": the colour table has more than 256 entries");
  size_t table_at = masks_end;
  if (table_at + 4 * entries > bmp.size()) fail(what + ": the file ends inside its colour table");
  size_t full_table = bits <= 8 ? (size_t)1 << bits : 0;

  uint32_t rows = height < 0 ? (uint32_t)(-(int64_t)height) : (uint32_t)height;
  size_t stride = (((size_t)width * bits + 31) / 32) * 4;
  uint32_t offset = read_u32(p + 10);
  size_t pixels_at = offset >= table_at + 4 * entries ? offset : table_at + 4 * entries;
  if (pixels_at > bmp.size() || stride * rows > bmp.size() - pixels_at)
    fail(what + ": the file ends inside its pixel data");

  ByteWriter w;
  size_t bits_offset = 14 + 40 + 4 * full_table;
  size_t image_size = stride * rows;
  w.u8('B');
  w.u8('M');
  w.u32((uint32_t)(bits_offset + image_size));
  w.u32(0);
  w.u32((uint32_t)bits_offset);
  w.u32(40);
  w.u32((uint32_t)width);
  w.u32(rows);
  w.u16(1);
  w.u16(bits);
  w.u32(0); // BI_RGB
  w.u32((uint32_t)image_size);
  w.u32(read_u32(h + 24)); // resolution
  w.u32(read_u32(h + 28));
  w.u32(0); // colours used: the whole table
  w.u32(0);
  for (size_t i = 0; i < full_table; i++) {
    if (i < entries)
      w.append(p + table_at + 4 * i, 4);
    else
      w.u32(0);
  }
  // Bottom-up rows: a top-down image (negative height) is flipped.
  for (uint32_t r = 0; r < rows; r++) {
    uint32_t source_row = height < 0 ? rows - 1 - r : r;
    w.append(p + pixels_at + stride * source_row, stride);
  }
  if (info) *info = BitmapInfo{width, (int32_t)rows, bits};
  return w.bytes;
}

bool bitmap_info(const std::vector<uint8_t>& bmp, BitmapInfo* info) {
  if (bmp.size() < 14 + 40) return false;
  const uint8_t* h = bmp.data() + 14;
  *info = BitmapInfo{(int32_t)read_u32(h + 4), (int32_t)read_u32(h + 8), read_u16(h + 14)};
  return true;
}

} // namespace pakwiz
