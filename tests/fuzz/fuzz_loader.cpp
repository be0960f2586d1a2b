// Loads arbitrary bytes as a setup package (behind a one-byte stub) and, when
// the load succeeds, looks up everything a loaded package offers: every
// string of every table, every template, every file entry and list entry,
// every language block. A hostile package must fail cleanly or stay inside
// its buffers.
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "common/state.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"
#include "package/dialog_template.h"
#include "package/file_entry.h"
#include "package/package.h"
#include "package/script.h"

static int answer(const char*, unsigned, void*) {
  return ANSWER_OK;
}

// Sums bytes so the reads cannot be optimised away.
static volatile unsigned sink;
static void touch(const char* s) {
  for (; *s; s++) sink += (unsigned char)*s;
}
static const uint8_t* skip(const uint8_t* p) {
  return p + text_length((const char*)p) + 1;
}

static void walk_lists(const LanguageBlock& b) {
  if (b.ini_list.data) {
    const uint8_t* p = b.ini_list.data + 2;
    for (unsigned n = read_u16(b.ini_list.data); n > 0; n--) {
      p++;
      for (int k = 0; k < 4; k++) touch((const char*)p), p = skip(p);
    }
  }
  if (b.registry_list.data) {
    const uint8_t* p = b.registry_list.data + 2;
    for (unsigned n = read_u16(b.registry_list.data); n > 0; n--) {
      p += 5;
      for (int k = 0; k < 3; k++) touch((const char*)p), p = skip(p);
    }
  }
  if (b.patch_list.data) {
    const uint8_t* p = b.patch_list.data + 2;
    for (unsigned n = read_u16(b.patch_list.data); n > 0; n--) {
      uint32_t pattern = read_u32(p + 4);
      p += 13;
      for (int k = 0; k < 2; k++) touch((const char*)p), p = skip(p);
      for (uint32_t i = 0; i < pattern; i++) sink += p[i];
      p += pattern;
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static bool ready = false;
  if (!ready) {
    FUZZ_CHECK(app_alloc_buffers());
    set_message_answerer(answer, nullptr);
    ready = true;
  }
  if (size < 1) return 0;
  FileHandle f = file.put(data, size);
  snprintf(g_app.package_path, PATH_SIZE, "/proc/self/fd/%d", (int)f);
  g_app.install_folder[0] = 0;
  g_package = PackageState{};
  g_app.stub_length = 1;
  if (load_package()) {
    for (int block = 0; block < g_package.block_count; block++) {
      select_language_block(block);
      const LanguageRecord* lang = g_package.current_language;
      for (const char* s :
           {lang->uninstall_key, lang->name, lang->default_folder, lang->registry_key,
            lang->registry_value, lang->ini_file, lang->ini_section, lang->ini_key})
        if (s) touch(s);
      for (unsigned t = 0; t <= STRING_TABLES; t++) {
        unsigned count = t < STRING_TABLES && lang->tables[t] ? read_u16(lang->tables[t]) : 0;
        for (unsigned n = 0; n <= count; n++) touch(get_string(t, n));
      }
      char out[1024];
      strcpy(g_app.error_file_name, "C:\\file.dll");
      for (unsigned n = 0; n < 40; n++) {
        format_message(out, sizeof out, n);
        touch(out);
      }
      for (uint32_t i = 0; i < g_package.entry_count; i++) {
        uint8_t* e = find_file_entry(block, i);
        FUZZ_CHECK(e != nullptr);
        for (unsigned k = 0; k < ENTRY_STRINGS; k++) touch(entry_string(e, k));
        if (const uint8_t* v = entry_version_block(e)) sink += read_u32(v + 16);
        if (const uint8_t* t = entry_file_times(e)) sink += read_u32(t + 20);
        if (entry_flags(e) & ENTRY_PATCH)
          FUZZ_CHECK(find_file_entry(entry_base_block(e), entry_base_entry(e)) != nullptr);
      }
      walk_lists(g_package.blocks[block]);
    }
    for (unsigned k = 0; k < 10; k++) {
      uint8_t* copy = (uint8_t*)copy_dialog_template(k);
      if (copy) FUZZ_CHECK(dialog_template_size(copy, TEMPLATE_COPY_SIZE) > 0);
      free_dialog_template(copy);
    }
    if (g_package.title.data) touch((const char*)g_package.title.data);
  }
  release_package();
  return 0;
}
