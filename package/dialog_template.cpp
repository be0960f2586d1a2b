#include "package/dialog_template.h"

#include "common/text.h"

namespace {

struct Walker {
  const uint8_t* p;
  uint32_t size, at;
  bool ok;
  bool take(uint32_t n) {
    if (!ok || n > size - at) return ok = false;
    at += n;
    return true;
  }
  uint16_t word() {
    if (!ok || size - at < 2) {
      ok = false;
      return 0;
    }
    uint16_t v = read_u16(p + at);
    at += 2;
    return v;
  }
  void text() { // NUL-terminated UTF-16 string
    while (ok && word() != 0) {
    }
  }
  void name_or_ordinal() {
    uint16_t first = word();
    if (first == 0xFFFF)
      word();
    else if (first != 0)
      text();
  }
  void align4() {
    uint32_t pad = (4 - (at & 3)) & 3;
    take(pad);
  }
};

} // namespace

uint32_t dialog_template_size(const uint8_t* p, uint32_t available) {
  Walker w{p, available, 0, true};
  if (available < 4) return 0;
  bool extended = read_u16(p) == 1 && read_u16(p + 2) == 0xFFFF;
  uint32_t style;
  uint16_t items;
  if (extended) {
    if (available < 26) return 0;
    style = read_u32(p + 12);
    items = read_u16(p + 16);
    w.take(26);
  } else {
    if (available < 18) return 0;
    style = read_u32(p);
    items = read_u16(p + 8);
    w.take(18);
  }
  w.name_or_ordinal(); // menu
  w.name_or_ordinal(); // class
  w.text();            // title
  if (style & 0x40) {  // DS_SETFONT
    w.take(extended ? 6 : 2);
    w.text();
  }
  for (uint16_t i = 0; i < items && w.ok; i++) {
    w.align4();
    w.take(extended ? 24 : 18);
    w.name_or_ordinal(); // class
    w.name_or_ordinal(); // title
    uint16_t extra = w.word();
    w.take(extra);
  }
  return w.ok ? w.at : 0;
}
