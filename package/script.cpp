#include "package/script.h"

#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "package/file_entry.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdio.h>
#endif

static const char EMPTY_STRING[1] = "";
static MessageAnswerer message_answerer = nullptr;
static void* message_context = nullptr;
static MessageOwner message_owner = nullptr;

const char* get_string(unsigned table, unsigned number) {
  const LanguageRecord* lang = g_package.current_language;
  if (table >= STRING_TABLES || !lang || !lang->tables[table]) return EMPTY_STRING;
  const uint8_t* p = lang->tables[table];
  const uint8_t* end = lang->data + lang->size;
  if (end - p < 2) return EMPTY_STRING;
  unsigned count = read_u16(p);
  if (number >= count) return EMPTY_STRING;
  p += 2;
  // Tables were checked at load time; the bound is kept anyway.
  for (; number > 0 && p < end; number--)
    while (p < end && *p++) {
    }
  return p < end ? (const char*)p : EMPTY_STRING;
}

void set_message_answerer(MessageAnswerer answerer, void* context) {
  message_answerer = answerer;
  message_context = context;
}

void set_message_owner(MessageOwner owner) {
  message_owner = owner;
}

int show_message(const char* text, unsigned style) {
  if (message_answerer) return message_answerer(text, style, message_context);
#ifdef _WIN32
  HWND owner = message_owner ? message_owner() : NULL;
  return MessageBoxA(owner, text, get_message(MESSAGE_TITLE), style);
#else
  // Portable builds (tests, tools) have no message boxes.
  fprintf(stderr, "%s: %s\n", get_message(MESSAGE_TITLE), text);
  return (style & 0xF) == MSG_YESNO ? ANSWER_NO : (style & 0xF) == 0 ? ANSWER_OK : ANSWER_CANCEL;
#endif
}

void format_message(char* out, unsigned cap, unsigned number) {
  const char* text = get_string(TABLE_MESSAGES, number);
  bool has_s = false;
  for (const char* p = text; p[0]; p++)
    if (p[0] == '%' && p[1] == 's') has_s = true;
  if (has_s)
    format_text(out, cap, text, text_arg(g_app.error_file_name ? g_app.error_file_name : ""));
  else
    text_copy_cut(out, cap, text);
}

void* copy_dialog_template(unsigned index) {
  const Buffer& rec = g_package.templates;
  if (!rec.data || index >= TEMPLATE_COUNT || rec.size < 4 * (index + 1)) return nullptr;
  uint32_t offset = read_u32(rec.data + 4 * index);
  if (offset >= rec.size) return nullptr;
  uint8_t* copy = (uint8_t*)heap_alloc(TEMPLATE_COPY_SIZE, true);
  if (!copy) return nullptr;
  // Everything from the template to the end of the record, as far as the copy
  // holds: the loader made sure that the template itself fits.
  uint32_t span = rec.size - offset;
  if (span > TEMPLATE_COPY_SIZE) span = TEMPLATE_COPY_SIZE;
  for (uint32_t i = 0; i < span; i++) copy[i] = rec.data[offset + i];
  return copy;
}

void free_dialog_template(void* copy) {
  heap_free(copy);
}

void select_language_block(int index) {
  if (index < 0 || index >= g_package.block_count) return;
  if (g_package.current_block >= 0 && g_package.current_block < g_package.block_count) {
    LanguageBlock* leaving = &g_package.blocks[g_package.current_block];
    if (leaving->folder && g_app.install_folder)
      text_copy(leaving->folder, PATH_SIZE, g_app.install_folder);
  }
  g_package.current_block = index;
  LanguageBlock* block = &g_package.blocks[index];
  if (block->file_list.data && block->file_list.size >= 4) {
    g_package.entry_count = read_u32(block->file_list.data);
    g_package.first_entry = g_package.entry_count ? block->file_list.data + 4 : nullptr;
  } else {
    g_package.entry_count = 0;
    g_package.first_entry = nullptr;
  }
  g_package.current_language = &block->language;
  if (block->folder && g_app.install_folder)
    text_copy(g_app.install_folder, PATH_SIZE, block->folder);
}

uint8_t* find_file_entry(int block, uint32_t index) {
  if (block < 0 || block >= g_package.block_count) return nullptr;
  const Buffer& list = g_package.blocks[block].file_list;
  if (!list.data || list.size < 4 || index >= read_u32(list.data)) return nullptr;
  uint8_t* e = list.data + 4;
  while (index--) e = next_entry(e);
  return e;
}
