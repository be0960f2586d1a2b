// The frame's gradient arithmetic and the main dialog's centring.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>

#include "support/package_maker.h"
#include "ui/ui.h"

namespace {

int blue(COLORREF c) {
  return GetBValue(c);
}

} // namespace

TEST(Gradient, BlueFallsQuadraticallyToBlackAndStaysRightOnTallClients) {
  struct {
    int v, height, blue;
  } cases[] = {
      {0, 768, 255},
      {768, 768, 0},
      {384, 768, 192}, // 255 - floor(255 / 4)
      {56, 768, 254},
      {1, 1, 0},
      {0, 1, 255},
      // Beyond 2,900 lines the product leaves 32 bits.
      {3999, 4000, 1},
      {2000, 4000, 192},
      {4000, 4000, 0},
      {65000, 65535, 5},
      {0, 0, 255}, // a client area of no height
  };
  for (auto& c : cases) {
    COLORREF color = gradient_color(c.v, c.height);
    EXPECT_EQ(blue(color), c.blue) << "line " << c.v << " of " << c.height;
    EXPECT_EQ(GetRValue(color), 0);
    EXPECT_EQ(GetGValue(color), 0);
  }
}

TEST(Gradient, PatternMixesSamplesEightLinesApartByTheDitherMatrix) {
  uint8_t pixels[192];
  auto pixel_blue = [&](int r, int c) { return (int)pixels[r * 24 + c * 3]; };
  // First band of a 768-line client: samples are lines 0, 8, ..., 56.
  fill_gradient_pattern(pixels, 0, 768);
  EXPECT_EQ(pixel_blue(0, 0), 255);                           // sample 0: line 0
  EXPECT_EQ(pixel_blue(1, 0), 254);                           // sample 7: line 56
  EXPECT_EQ(pixel_blue(3, 7), blue(gradient_color(24, 768))); // sample 3
  for (int r = 0; r < 8; r++)
    for (int c = 0; c < 8; c++) {
      EXPECT_EQ(pixels[r * 24 + c * 3 + 1], 0); // green
      EXPECT_EQ(pixels[r * 24 + c * 3 + 2], 0); // red
    }
  // Middle band: sample i is line 400 + 8i.
  fill_gradient_pattern(pixels, 400, 768);
  EXPECT_EQ(pixel_blue(0, 0), blue(gradient_color(400, 768)));
  EXPECT_EQ(pixel_blue(2, 5), blue(gradient_color(456, 768))); // sample 7
  EXPECT_EQ(pixel_blue(4, 3), blue(gradient_color(400, 768))); // sample 0
  // Last band: samples beyond the bottom repeat line H (black).
  fill_gradient_pattern(pixels, 760, 768);
  EXPECT_EQ(pixel_blue(0, 0), blue(gradient_color(760, 768)));
  EXPECT_GT(pixel_blue(0, 0), 0);
  EXPECT_EQ(pixel_blue(0, 2), 0); // sample 1: line 768
  EXPECT_EQ(pixel_blue(1, 0), 0); // sample 7
}

TEST(Centring, CentresOnTheScreenWithinTheFrame) {
  struct {
    int cx, cy, fw, fh, w, h, x, y;
  } cases[] = {
      {512, 384, 1024, 768, 400, 300, 312, 234},
      {512, 384, 1024, 768, 401, 301, 312, 234}, // halves truncate
      {900, 384, 1024, 768, 400, 300, 624, 234}, // not past the right edge
      {512, 700, 1024, 768, 400, 300, 312, 468}, // not past the bottom edge
      {512, 384, 1024, 768, 1200, 900, 0, 0},    // larger than the screen: (0, 0)
      {100, 100, 1024, 768, 400, 300, 0, 0},     // never negative
  };
  for (auto& c : cases) {
    POINT p = centred_position(c.cx, c.cy, c.fw, c.fh, c.w, c.h);
    EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h << " around " << c.cx;
    EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h << " around " << c.cy;
  }
}

// An 8-bit bitmap with a colour table shorter than 256 entries: the palette
// holds just its colours (nothing of the pixel bits behind them), and the
// image is drawn with them.
TEST(Bitmap, ShortColourTableGivesThePaletteAndTheImageItsOwnColours) {
  const uint32_t red = 0xFF0000, green = 0x00C000;
  Bytes bmp = bitmap_8bit(4, 2, {red, green}, {0, 1, 1, 0, 1, 1, 0, 0}); // bottom row first
  const BITMAPINFOHEADER* info = bitmap_info(bmp.data(), (uint32_t)bmp.size());
  ASSERT_NE(info, nullptr);
  HDC screen = GetDC(NULL);
  HPALETTE palette = palette_for_bitmap(screen, info);
  ASSERT_NE(palette, nullptr);
  PALETTEENTRY entries[256] = {};
  ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 2u);
  EXPECT_EQ(RGB(entries[0].peRed, entries[0].peGreen, entries[0].peBlue), RGB(0xFF, 0, 0));
  EXPECT_EQ(RGB(entries[1].peRed, entries[1].peGreen, entries[1].peBlue), RGB(0, 0xC0, 0));
  DeleteObject(palette);

  BITMAPINFO target = {};
  target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  target.bmiHeader.biWidth = 4;
  target.bmiHeader.biHeight = 2;
  target.bmiHeader.biPlanes = 1;
  target.bmiHeader.biBitCount = 24;
  void* pixels = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &target, DIB_RGB_COLORS, &pixels, NULL, 0);
  HDC memory = CreateCompatibleDC(screen);
  ASSERT_TRUE(dib && memory);
  HGDIOBJ old = SelectObject(memory, dib);
  StretchDIBits(memory, 0, 0, 4, 2, 0, 0, 4, 2, bitmap_bits(info), (const BITMAPINFO*)info,
                DIB_RGB_COLORS, SRCCOPY);
  const COLORREF r = RGB(0xFF, 0, 0), g = RGB(0, 0xC0, 0);
  const COLORREF top[4] = {g, g, r, r}, bottom[4] = {r, g, g, r};
  for (int x = 0; x < 4; x++) {
    EXPECT_EQ(GetPixel(memory, x, 0), top[x]) << "top, x " << x;
    EXPECT_EQ(GetPixel(memory, x, 1), bottom[x]) << "bottom, x " << x;
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(dib);
  ReleaseDC(NULL, screen);
}
