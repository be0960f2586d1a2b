// Dialog templates (the built-in set compiled from resources/templates.rc, a
// project's own .res), bitmaps and the built-in texts.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "builder/bitmap.h"
#include "builder/bytes.h"
#include "builder/default_texts.h"
#include "builder/errors.h"
#include "builder/res_file.h"
#include "builder/templates.h"
#include "package/dialog_template.h"
#include "resources/template_ids.h"
#include "support/temp_dir.h"

using namespace pakwiz;

namespace {

const uint32_t WS_CHILD_ = 0x40000000, WS_VISIBLE_ = 0x10000000, WS_CAPTION_ = 0x00C00000,
               WS_POPUP_ = 0x80000000, DS_MODALFRAME_ = 0x80, DS_CONTROL_ = 0x400,
               DS_SETFONT_ = 0x40, WS_DISABLED_ = 0x08000000;

struct Control {
  uint32_t style;
  int16_t x, y, cx, cy;
};
struct Dialog {
  uint32_t style;
  int16_t cx, cy;
  std::string font;
  uint16_t point_size;
  std::map<uint16_t, Control> controls;
};

// Reads a classic DLGTEMPLATE with its items (a second, independent walk).
Dialog read_dialog(const std::vector<uint8_t>& t) {
  Dialog d;
  size_t at = 0;
  auto word = [&] {
    at += 2;
    return read_u16(&t[at - 2]);
  };
  auto skip_name = [&] {
    uint16_t first = word();
    if (first == 0xFFFF)
      word();
    else if (first != 0)
      while (word() != 0) {
      }
  };
  d.style = read_u32(&t[0]);
  uint16_t items = read_u16(&t[8]);
  d.cx = (int16_t)read_u16(&t[14]);
  d.cy = (int16_t)read_u16(&t[16]);
  at = 18;
  skip_name(); // menu
  skip_name(); // class
  skip_name(); // title
  if (d.style & DS_SETFONT_) {
    d.point_size = word();
    for (uint16_t c; (c = word()) != 0;) d.font += (char)c;
  }
  for (uint16_t i = 0; i < items; i++) {
    at = (at + 3) & ~(size_t)3;
    Control c;
    c.style = read_u32(&t[at]);
    c.x = (int16_t)read_u16(&t[at + 8]);
    c.y = (int16_t)read_u16(&t[at + 10]);
    c.cx = (int16_t)read_u16(&t[at + 12]);
    c.cy = (int16_t)read_u16(&t[at + 14]);
    uint16_t id = read_u16(&t[at + 16]);
    at += 18;
    skip_name();
    skip_name();
    at += word();
    d.controls[id] = c;
  }
  return d;
}

std::set<uint16_t> ids(const Dialog& d) {
  std::set<uint16_t> s;
  for (auto& [id, c] : d.controls) s.insert(id);
  return s;
}

bool visible(const Dialog& d, uint16_t id) {
  return d.controls.at(id).style & WS_VISIBLE_;
}

} // namespace

TEST(Templates, BuiltInSetHasEveryControlThePagesUseAndFitsTheCopy) {
  std::vector<std::vector<uint8_t>> t = load_templates("", SourcePos{});
  ASSERT_EQ(t.size(), 9u);
  std::map<int, std::set<uint16_t>> expected = {
      {0, {1, 2, 1006, 1007, 1011, 1012}},
      {1, {1, 2, 1006, 1007, 1011, 1012}},
      {2, {1000, 1001, 1002, 1003, 1004, 1005, 1016, 1017, 1018, 1019}},
      {3, {1000, 1001, 1002, 1003}},
      {4, {1000, 1001, 1002, 1003, 1008, 1009, 1010}},
      {5, {1000, 1001, 1002, 1003}},
      {6, {1000, 1001, 1002, 1003, 1014, 1015}},
      {7, {1, 2, 101, 1009, 1088, 1089, 1090, 1091, 1120, 1121, 1136, 1137, 1152}},
      {8, {1000, 1001, 1002, 1003, 1021, 1022, 1023, 1024, 1025, 1026}},
  };
  for (int k = 0; k < 9; k++) {
    SCOPED_TRACE("template " + std::to_string(k));
    uint32_t walked = dialog_template_size(t[k].data(), (uint32_t)t[k].size());
    EXPECT_EQ(walked, t[k].size());
    EXPECT_LE(walked, 16384u);
    Dialog d = read_dialog(t[k]);
    EXPECT_EQ(ids(d), expected[k]);
    EXPECT_EQ(d.font, "MS Shell Dlg");
    EXPECT_EQ(d.point_size, 8);
  }
  Dialog windowed = read_dialog(t[0]), full = read_dialog(t[1]);
  EXPECT_EQ(windowed.style & (WS_CHILD_ | WS_VISIBLE_ | WS_CAPTION_), WS_CHILD_ | WS_VISIBLE_);
  EXPECT_EQ(full.style & (WS_CHILD_ | WS_CAPTION_ | DS_MODALFRAME_),
            WS_CHILD_ | WS_CAPTION_ | DS_MODALFRAME_);
  for (const Dialog* d : {&windowed, &full}) {
    // Painted over by the program, so hidden: billboard, panel, page anchor.
    for (uint16_t id : {1006, 1011, 1012}) EXPECT_FALSE(visible(*d, id)) << id;
    // 50 x 14 buttons, Back and Next touching, Cancel 7 units apart and 7 from the edge.
    const Control &back = d->controls.at(1007), &next = d->controls.at(1),
                  &cancel = d->controls.at(2);
    for (const Control* b : {&back, &next, &cancel}) {
      EXPECT_EQ(b->cx, 50);
      EXPECT_EQ(b->cy, 14);
    }
    EXPECT_EQ(back.x + back.cx, next.x);
    EXPECT_EQ(next.x + next.cx + 7, cancel.x);
    EXPECT_EQ(cancel.x + cancel.cx + 7, d->cx);
    EXPECT_EQ(cancel.y + cancel.cy + 7, d->cy);
    // The billboard strip holds a 164 x 314 pixel bitmap (1.5 x 1.625 px per unit).
    const Control& billboard = d->controls.at(1011);
    EXPECT_NEAR(billboard.cx * 1.5, 164, 2);
    EXPECT_NEAR(billboard.cy * 1.625, 314, 2);
  }
  // Pages are control children the size of the page area right of the strip.
  const Control& anchor = windowed.controls.at(1006);
  for (int k : {2, 3, 4, 5, 6, 8}) {
    Dialog page = read_dialog(t[k]);
    EXPECT_EQ(page.style & (WS_CHILD_ | DS_CONTROL_ | WS_CAPTION_), WS_CHILD_ | DS_CONTROL_) << k;
    EXPECT_EQ(anchor.x + page.cx + 7, windowed.cx) << k;
    EXPECT_EQ(anchor.y + page.cy + 7, windowed.controls.at(1012).y) << k;
  }
  Dialog progress = read_dialog(t[4]), finish = read_dialog(t[6]), language = read_dialog(t[8]);
  EXPECT_FALSE(visible(progress, 1009)); // the bar is painted over it
  for (uint16_t id = 1021; id <= 1026; id++) {
    EXPECT_FALSE(visible(language, id));
    EXPECT_TRUE(language.controls.at(id).style & WS_DISABLED_);
  }
  EXPECT_TRUE(visible(finish, 1000));
  // The folder browser: a popup for the save-file dialog with its list
  // controls hidden except the folder and drive lists.
  Dialog browser = read_dialog(t[7]);
  EXPECT_EQ(browser.style & (WS_POPUP_ | WS_CAPTION_), WS_POPUP_ | WS_CAPTION_);
  for (uint16_t id : {1088, 1089, 1090, 1120, 1136, 1152}) EXPECT_FALSE(visible(browser, id)) << id;
  for (uint16_t id : {101, 1009, 1091, 1121, 1137, 1, 2}) EXPECT_TRUE(visible(browser, id)) << id;
}

TEST(Templates, RecordHoldsNineAlignedOffsetsToTheTemplates) {
  std::vector<std::vector<uint8_t>> t = load_templates("", SourcePos{});
  t[3].push_back(0); // an odd length makes the next template need padding
  t[3].push_back(0);
  std::vector<uint8_t> record = build_template_record(t);
  for (size_t k = 0; k < 9; k++) {
    uint32_t offset = read_u32(&record[4 * k]);
    EXPECT_EQ(offset % 4, 0u) << k;
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + offset, record.begin() + offset + t[k].size()),
              t[k])
        << k;
  }
}

TEST(Templates, AProjectResReplacesTemplatesByResourceId) {
  std::string res = PAKWIZ_BINARY_DIR "/fixtures/dialogs.res";
  std::vector<std::vector<uint8_t>> builtin = load_templates("", SourcePos{});
  std::vector<std::vector<uint8_t>> t = load_templates(res, SourcePos{"p.toml", 3, 13});
  EXPECT_EQ(read_u32(t[2].data()), 0xFFFF0001u); // the DIALOGEX from the .res
  EXPECT_EQ(dialog_template_size(t[2].data(), (uint32_t)t[2].size()), t[2].size());
  for (int k : {0, 1, 3, 4, 5, 6, 7, 8}) EXPECT_EQ(t[k], builtin[k]) << k;

  // A .res without dialogs 0..8, a file that is no .res, a template too big.
  TempDir dir;
  std::vector<uint8_t> fixture = read_file_bytes(res);
  std::vector<ResDialog> dialogs = read_res_dialogs(fixture.data(), fixture.size(), "x");
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[1].id, 42);
  std::string not_res = dir.write("not.res", std::string("hello, this is text"));
  try {
    load_templates(not_res, SourcePos{"p.toml", 3, 13});
    ADD_FAILURE();
  } catch (const BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("not a .res file"), std::string::npos) << e.what();
  }
  // A dialog template of 2,000 items is far beyond the 16,384-byte copy.
  ByteWriter big;
  big.u32(0x40000000 | 0x40); // WS_CHILD | DS_SETFONT
  big.u32(0);
  big.u16(2000);
  big.zeros(8);
  big.u16(0);
  big.u16(0);
  big.u16(0);
  big.u16(8);
  big.u16(0);
  for (int i = 0; i < 2000; i++) {
    big.align(4);
    big.zeros(16);
    big.u16((uint16_t)i);
    big.u16(0xFFFF);
    big.u16(0x82);
    big.u16(0);
    big.u16(0);
  }
  ByteWriter file;
  file.zeros(32); // the empty first record is skipped like any other type
  file.put_u32(4, 32);
  file.u32((uint32_t)big.size());
  file.u32(32);
  file.u16(0xFFFF);
  file.u16(5);
  file.u16(0xFFFF);
  file.u16(4);
  file.zeros(16);
  file.append(big.bytes);
  std::string big_res = dir.write("big.res", file.bytes);
  try {
    load_templates(big_res, SourcePos{"p.toml", 3, 13});
    ADD_FAILURE();
  } catch (const BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("dialog 4 is "), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("copies at most 16,384 bytes"), std::string::npos);
  }
}

TEST(Bitmaps, NormalisedToTheFormTheSetupProgramDraws) {
  // An 8-bit top-down bitmap with a 124-byte header and 3 palette entries,
  // pixels at a gap behind the palette.
  const int w = 3, h = 2;
  ByteWriter b;
  b.u8('B');
  b.u8('M');
  b.u32(0);
  b.u32(0);
  b.u32(14 + 124 + 12 + 6); // pixel offset, after a gap of 6 bytes
  b.u32(124);
  b.u32(w);
  b.u32((uint32_t)-h);
  b.u16(1);
  b.u16(8);
  b.u32(0);
  b.zeros(12);
  b.u32(3); // colours used
  b.zeros(124 - 36);
  for (int i = 0; i < 3; i++) b.u32(0x00112233u * (uint32_t)(i + 1));
  b.zeros(6);
  b.append(std::vector<uint8_t>{1, 2, 0, 0, 2, 1, 0, 0}); // row 0 (top), row 1
  BitmapInfo info;
  std::vector<uint8_t> n = normalize_bitmap(b.bytes, "pic.bmp", &info);
  EXPECT_EQ(info.width, 3);
  EXPECT_EQ(info.height, 2);
  EXPECT_EQ(read_u32(&n[14]), 40u);
  EXPECT_EQ((int32_t)read_u32(&n[22]), 2); // bottom-up now
  EXPECT_EQ(read_u32(&n[46]), 0u);         // colours used: the whole table
  EXPECT_EQ(read_u32(&n[10]), 14u + 40 + 1024);
  EXPECT_EQ(n.size(), 14u + 40 + 1024 + 8);
  EXPECT_EQ(read_u32(&n[54 + 4]), 0x00224466u); // palette entry 1 kept
  EXPECT_EQ(read_u32(&n[54 + 4 * 3]), 0u);      // padded with black
  EXPECT_EQ(std::vector<uint8_t>(n.end() - 8, n.end()),
            (std::vector<uint8_t>{2, 1, 0, 0, 1, 2, 0, 0}));

  std::vector<uint8_t> rle = b.bytes;
  rle[14 + 16] = 1; // BI_RLE8
  EXPECT_THROW(normalize_bitmap(rle, "rle.bmp"), BuildError);
  std::vector<uint8_t> cut(b.bytes.begin(), b.bytes.end() - 3);
  EXPECT_THROW(normalize_bitmap(cut, "cut.bmp"), BuildError);
  EXPECT_THROW(normalize_bitmap(std::vector<uint8_t>(60, 'x'), "x.bmp"), BuildError);
}

TEST(DefaultTexts, BothSetsCoverTheSameStringsWithTheConversionsTheProgramApplies) {
  const TextSet* en = find_text_set("en");
  const TextSet* de = find_text_set("Deutsch");
  ASSERT_TRUE(en && de);
  EXPECT_EQ(find_text_set("fr"), nullptr);
  for (const TextSet* s : {en, de}) {
    SCOPED_TRACE(s->code);
    EXPECT_GE(s->tables[6].size(), 32u); // up to 31, the damaged-package message
    EXPECT_EQ(s->tables[7].size(), 7u);
    for (unsigned t = 0; t < 11; t++) {
      EXPECT_EQ(s->tables[t].size(), en->tables[t].size()) << t;
      for (unsigned k = 0; k < s->tables[t].size(); k++) {
        const std::string& text = s->tables[t][k];
        EXPECT_EQ(check_conversion(text, expected_conversion(t, k)), "") << t << "." << k;
        // Every string the program formats carries its argument.
        char kind = expected_conversion(t, k);
        if (kind == 's' || kind == 'd') {
          EXPECT_NE(text.find(std::string("%") + kind), std::string::npos) << t << "." << k;
        }
      }
    }
    for (unsigned k : {1,  2,  3,  4,  5,  6,  7,  8,  9,  11, 12, 13, 14,
                       15, 16, 17, 18, 19, 20, 21, 22, 28, 29, 30, 31})
      EXPECT_FALSE(s->tables[6][k].empty()) << "table 6 string " << k;
    for (unsigned k : {16, 17, 18, 19, 21, 22}) // errors naming a file
      EXPECT_NE(s->tables[6][k].find("%s"), std::string::npos) << k;
  }
  EXPECT_EQ(check_conversion("100%% done, %d left", 'd'), "");
  EXPECT_NE(check_conversion("50% off", 'd'), "");
  EXPECT_EQ(check_conversion("no file name here, 50% off", 'S'), ""); // not formatted at all
  EXPECT_NE(check_conversion("%s is 50% off", 'S'), "");
}
