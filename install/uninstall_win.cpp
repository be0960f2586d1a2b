// The uninstall record and the registrations around it: the log appended to
// the uninstaller file, the uninstall key, the install folder recorded for a
// later installation, and running the uninstallers of earlier installations.
#include <windows.h>
#include <shlobj.h>

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install.h"
#include "install/install_log.h"
#include "install/lists.h"
#include "install/restart.h"
#include "install/shortcuts.h"
#include "install/uninstall_log.h"
#include "package/file_entry.h"
#include "package/package.h"

namespace {

// Room for an uninstall string as Windows shows it in its own dialogs.
enum { UNINSTALL_STRING_SIZE = 360 };
const DWORD DELETE_WAIT_MS = 3000;

void set_string_value(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)text_length(text) + 1);
}

void register_uninstall_key(const char* key_path, const char* key_name,
                            const char* uninstaller_path) {
  HKEY key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return;
  set_string_value(key, "DisplayName", key_name);
  // Quoted, as command lines hold a program path with spaces.
  char quoted[PATH_SIZE + 2];
  if (text_concat(quoted, sizeof quoted, "\"", uninstaller_path, "\"", nullptr))
    set_string_value(key, "UninstallString", quoted);
  RegCloseKey(key);
  install_log("uninstall\tregistered", key_path, uninstaller_path, nullptr);
}

// The program path of an "UninstallString": the text between the quotes of
// a quoted one (anything behind the closing quote is dropped), else all of it.
void unquote_program(char* command) {
  if (command[0] != '"') return;
  size_t n = 0;
  for (const char* p = command + 1; *p && *p != '"'; p++) command[n++] = *p;
  command[n] = 0;
}

bool loggable_file_path(const char* path);

// The log of the uninstaller file that this installation replaces (an
// earlier installation of the same block into the same folder), read before
// the file is overwritten: the bodies of its file and value log records
// (u32 count, then the entries), so that what the earlier installation
// placed or created and this one finds already there stays removable.
enum { EARLIER_FILES, EARLIER_VALUES };
struct EarlierLog {
  uint8_t* body[2];
  uint32_t size[2];
};
EarlierLog g_earlier = {{nullptr, nullptr}, {0, 0}};

// Bounds of the earlier log that is worth reading back.
const uint32_t MAX_EARLIER_LOG = 16u << 20;
const uint32_t MAX_LOGGED_TEXT = PATH_SIZE - 1;

// One log string of the earlier log at *p (within end): its text and length.
bool take_log_text(const uint8_t*& p, const uint8_t* end, const char** text, uint32_t* n) {
  if (end - p < 2) return false;
  *n = read_u16(p);
  *text = (const char*)p + 2;
  if ((uint32_t)(end - p - 2) < *n) return false;
  p += 2 + *n;
  return true;
}

// Copies n characters to `to`; returns the position behind them.
char* put_text(char* to, const char* text, size_t n) {
  while (n--) *to++ = *text++;
  return to;
}

// One log string of the earlier log as a terminated text in out
// (PATH_SIZE); false when it runs past the record, is too long or holds a NUL.
bool take_text(const uint8_t*& p, const uint8_t* end, char* out) {
  const char* text;
  uint32_t n;
  if (!take_log_text(p, end, &text, &n) || n > MAX_LOGGED_TEXT) return false;
  *put_text(out, text, n) = 0;
  return text_length(out) == n;
}

void forget_earlier_log() {
  heap_free(g_earlier.body[EARLIER_FILES]);
  heap_free(g_earlier.body[EARLIER_VALUES]);
  g_earlier = EarlierLog();
}

// The entries of an earlier record body still to be walked.
struct EarlierCursor {
  const uint8_t* at;
  const uint8_t* stop;
  uint32_t left;
};

EarlierCursor earlier_entries(int which) {
  const uint8_t* body = g_earlier.body[which];
  if (!body) return EarlierCursor{nullptr, nullptr, 0};
  return EarlierCursor{body + 4, body + g_earlier.size[which], read_u32(body)};
}

// The next entry of the earlier file log: its full path into path
// (PATH_SIZE; "" when it does not fit) and its flags. False at the end or
// where the record is out of shape.
bool next_earlier_file(EarlierCursor& c, char* path, uint8_t* flags) {
  const char *folder, *name;
  uint32_t folder_n, name_n;
  if (!c.left || !take_log_text(c.at, c.stop, &folder, &folder_n) ||
      !take_log_text(c.at, c.stop, &name, &name_n) || c.at == c.stop)
    return false;
  c.left--;
  *flags = *c.at++;
  // "." and ".\sub" lie in the install folder (which ends with a backslash).
  const char* base = "";
  if (folder_n && folder[0] == '.' && (folder_n == 1 || folder[1] == '\\')) {
    base = g_app.install_folder;
    uint32_t skip = folder_n > 1 ? 2 : 1;
    folder += skip;
    folder_n -= skip;
  }
  size_t base_n = text_length(base);
  path[0] = 0;
  if (base_n + folder_n + 1 + name_n >= PATH_SIZE) return true;
  char* at = put_text(path, base, base_n);
  at = put_text(at, folder, folder_n);
  if (folder_n) *at++ = '\\';
  *put_text(at, name, name_n) = 0;
  return true;
}

// Carries into the file log the entries of the earlier log whose files
// still exist and that this log does not name (`listed`: the paths logged,
// each with its NUL, `listed_size` bytes): a file that this installation
// left alone because it was already there stays known to the uninstaller.
// Each is written again from its full path, so that only a path that the
// log may hold is carried. Returns the number of entries carried.
uint32_t carry_earlier_entries(FileHandle f, const char* listed, uint32_t listed_size) {
  uint32_t carried = 0;
  EarlierCursor c = earlier_entries(EARLIER_FILES);
  char path[PATH_SIZE];
  uint8_t flags;
  while (next_earlier_file(c, path, &flags)) {
    DWORD attributes = GetFileAttributesA(path);
    if (!loggable_file_path(path) || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (flags & ~(LOGGED_SHARED | LOGGED_FONT | LOGGED_SELF_REGISTER)))
      continue;
    bool named = false;
    for (const char* q = listed; !named && q < listed + listed_size; q += text_length(q) + 1)
      named = equals_nocase(q, path);
    if (named) continue;
    write_file_log_entry(f, path, flags);
    carried++;
  }
  return carried;
}

// The file log record. Its header takes the place of the 8 bytes reserved at
// the end of the placed uninstaller file (E0 - 8); its body starts at E0.
void write_file_log_record(FileHandle f, uint32_t e0) {
  uint8_t zero[4] = {0, 0, 0, 0};
  file_write_exact(f, zero, 4); // the count, completed below
  uint32_t count = 0;
  char desktop[PATH_SIZE], link[PATH_SIZE];
  // With an earlier log to carry forward: every path logged here (a file
  // and a desktop link per entry at most).
  char* listed = g_earlier.body[EARLIER_FILES]
                     ? (char*)heap_alloc(((size_t)g_package.entry_count * 2 + 1) * PATH_SIZE)
                     : nullptr;
  uint32_t listed_size = 0;
  // One call site for both kinds keeps the setup program small.
  auto logged = [&](const char* path, uint8_t flags) __attribute__((noinline)) {
    write_file_log_entry(f, path, flags);
    count++;
    if (listed && text_copy(listed + listed_size, PATH_SIZE, path))
      listed_size += (uint32_t)text_length(path) + 1;
  };
  uint8_t* record = g_package.first_entry;
  for (uint32_t i = 0; record && i < g_package.entry_count; i++, record = next_entry(record)) {
    const FileEntry e = file_entry(record);
    resolve_destination(e);
    if (entry_is_logged(e) && g_app.destination_path[0])
      logged(g_app.destination_path, file_log_flags(e));
    // Desktop shortcuts are logged from the entries, whatever became of
    // the entry or its link.
    const char* desktop_name = e.desktop_name;
    if (desktop_name[0] && special_folder_path(CSIDL_DESKTOP, desktop) &&
        text_copy(link, PATH_SIZE, desktop) && append_backslash(link, PATH_SIZE) &&
        text_append(link, PATH_SIZE, desktop_name) && text_append(link, PATH_SIZE, ".lnk"))
      logged(link, 0);
  }
  if (listed) count += carry_earlier_entries(f, listed, listed_size);
  heap_free(listed);
  finish_counted_record(f, e0 - RECORD_HEADER_SIZE, LOG_TAG_FILES, count);
}

// The log between write_uninstall_log and close_uninstall_log: the value
// record is begun and the list helpers append their entries to it.
struct OpenLog {
  FileHandle f;
  uint32_t values_start;
  uint32_t value_count;
};
OpenLog g_log = {INVALID_FILE, FILE_BAD_POSITION, 0};

// A text the log's reader accepts: at most 259 characters, none below a
// space; `path`: backslash-separated parts, none empty.
bool loggable(const char* text, bool may_be_empty, bool path) {
  size_t n = text_length(text);
  if (n > MAX_LOGGED_TEXT || (n == 0 && !may_be_empty)) return false;
  for (size_t i = 0; i < n; i++) {
    if ((unsigned char)text[i] < 0x20) return false;
    if (path && text[i] == '\\' && (i == 0 || i + 1 == n || text[i + 1] == '\\')) return false;
  }
  return true;
}

// An INI file that may be logged as created: "X:\" and plain names, so that
// the uninstaller's reader takes it for a file it may delete.
bool loggable_file_path(const char* path) {
  if (!loggable(path, false, true) || !IsCharAlphaA(path[0]) || path[1] != ':' || path[2] != '\\')
    return false;
  const char* part = path + 3;
  for (const char* p = part;; p++) {
    if (*p == '\\' || !*p) {
      size_t n = (size_t)(p - part);
      if (n == 0 || (n == 1 && part[0] == '.') || (n == 2 && part[0] == '.' && part[1] == '.'))
        return false;
      if (!*p) return true;
      part = p + 1;
    } else if (*p == '/' || *p == ':' || *p == '*' || *p == '?' || *p == '"' || *p == '<' ||
               *p == '>' || *p == '|') {
      return false;
    }
  }
}

// One value entry: the kind, the root for the registry kinds, then the texts.
void log_value(uint8_t kind, HKEY root, const char* a, const char* b, const char* c) {
  FileHandle f = g_log.f;
  if (f == INVALID_FILE) return;
  file_write_exact(f, &kind, 1);
  if (root) {
    uint8_t r[4];
    write_u32(r, (uint32_t)(uintptr_t)root);
    file_write_exact(f, r, 4);
  }
  const char* texts[3] = {a, b, c};
  for (const char* t : texts)
    if (t) write_log_string(f, t);
  g_log.value_count++;
}

// Whether an INI file holds the entry (an empty one counts).
bool ini_entry_exists(const char* file, const char* section, const char* key) {
  char probe[4];
  return GetPrivateProfileStringA(section, key, "\x01", probe, sizeof probe, file) != 1 ||
         probe[0] != 1;
}

// Whether the key exists and, unless name is null, holds that value.
bool registry_has(HKEY root, const char* key_path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  bool found = !name || RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
  RegCloseKey(key);
  return found;
}

// Carries into the value record the entries of the earlier log whose
// values, keys, INI entries and INI files are still there. Called before
// this installation writes any of them: what is there now was created by
// the earlier installation, and this one does not log it again (it logs
// only what it creates). Each entry is checked as the writers check theirs;
// the walk ends where the record is out of shape.
void carry_earlier_values() {
  EarlierCursor c = earlier_entries(EARLIER_VALUES);
  char texts[3][PATH_SIZE];
  const char *a = texts[0], *b = texts[1];
  for (; c.left && c.at < c.stop; c.left--) {
    const uint8_t* entry = c.at;
    uint8_t kind = *c.at++;
    if ((uint8_t)(kind - 1) > LOGGED_VALUE_INI_FILE - 1) break;
    bool registry = kind <= LOGGED_VALUE_KEY;
    HKEY root = nullptr;
    if (registry) {
      if (c.stop - c.at < 4) break;
      uint32_t number = read_u32(c.at);
      c.at += 4;
      if (number - LOG_FIRST_ROOT > LOG_LAST_ROOT - LOG_FIRST_ROOT) break;
      root = (HKEY)(ULONG_PTR)(LONG)number; // sign-extended, as Windows defines the handles
    }
    int n = "\0\2\1\3\1"[kind]; // the texts of each kind
    bool there = true;
    for (int i = 0; i < n; i++) {
      if (!take_text(c.at, c.stop, texts[i])) return;
      // A key path is a path; a value name may be empty (the default value).
      there = there && loggable(texts[i], kind == LOGGED_VALUE_REGISTRY && i == 1, registry && !i);
    }
    if (!there) continue;
    if (registry)
      there = registry_has(root, a, kind == LOGGED_VALUE_REGISTRY ? b : nullptr);
    else if (kind == LOGGED_VALUE_INI)
      there = ini_entry_exists(a, b, texts[2]);
    else
      there = loggable_file_path(a) && GetFileAttributesA(a) != INVALID_FILE_ATTRIBUTES;
    if (there) { // the entry as it stands: its texts passed the writers' checks
      file_write_exact(g_log.f, entry, (uint32_t)(c.at - entry));
      g_log.value_count++;
    }
  }
}

} // namespace

void keep_earlier_log(const char* uninstaller_path) {
  forget_earlier_log();
  FileHandle f = file_open(uninstaller_path, FILE_READ);
  if (f == INVALID_FILE) return;
  // Behind the uninstaller program (the package's prefix block, when the
  // earlier file holds the same program): its data record if it has one,
  // then the log records up to the end record.
  uint32_t size = file_size(f);
  uint32_t at = g_package.prefix.size;
  uint8_t header[RECORD_HEADER_SIZE];
  for (;;) {
    if (size == FILE_BAD_POSITION || at > size || size - at < RECORD_HEADER_SIZE ||
        file_seek_to(f, at) != at || file_read_exact(f, header, RECORD_HEADER_SIZE) != FILE_OK ||
        read_u16(header + 2) != 0)
      break;
    uint16_t tag = read_u16(header);
    uint32_t n = read_u32(header + 4);
    at += RECORD_HEADER_SIZE;
    if (n > size - at) break;
    int which = tag == LOG_TAG_FILES ? EARLIER_FILES : EARLIER_VALUES;
    if (tag == LOG_TAG_FILES || tag == LOG_TAG_VALUES) {
      if (g_earlier.body[which] || n < 4 || n > MAX_EARLIER_LOG ||
          !(g_earlier.body[which] = (uint8_t*)heap_alloc(n)))
        break;
      g_earlier.size[which] = n;
      if (file_read_exact(f, g_earlier.body[which], n) != FILE_OK) {
        forget_earlier_log();
        break;
      }
    } else if (tag != UNINSTALLER_DATA_TAG && tag != LOG_TAG_SHORTCUTS && tag != LOG_TAG_KEY) {
      break; // the end record, or something that is not a log
    }
    at += n;
  }
  file_close(f);
}

bool counted_by_earlier_log(const char* path) {
  EarlierCursor c = earlier_entries(EARLIER_FILES);
  char logged[PATH_SIZE];
  uint8_t flags;
  while (next_earlier_file(c, logged, &flags))
    if ((flags & LOGGED_SHARED) && equals_nocase(logged, path)) return true;
  return false;
}

void set_logged_registry_string(HKEY root, const char* key_path, const char* name,
                                const char* value, uint32_t size) {
  bool log = g_log.f != INVALID_FILE && loggable(key_path, false, true) &&
             loggable(name ? name : "", true, false);
  // The first part of the key path that does not exist yet (n: none) and
  // whether the value existed.
  char prefix[PATH_SIZE];
  size_t first_new = PATH_SIZE;
  bool value_existed = true;
  HKEY key;
  if (log) {
    text_copy(prefix, sizeof prefix, key_path);
    for (size_t i = 0;; i++) {
      char c = prefix[i];
      if (c != '\\' && c) continue;
      prefix[i] = 0;
      bool exists = registry_has(root, prefix, nullptr);
      prefix[i] = c;
      if (!exists) {
        first_new = i;
        value_existed = false;
        break;
      }
      if (!c) {
        value_existed = registry_has(root, key_path, name ? name : "");
        break;
      }
    }
  }
  if (RegCreateKeyA(root, key_path, &key) != ERROR_SUCCESS) return;
  bool written = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, size) == ERROR_SUCCESS;
  RegCloseKey(key);
  // The root as the lists number it: the low bits of the predefined keys
  // (0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS).
  char root_number[2] = {(char)('0' + ((uintptr_t)root & 3)), 0};
  if (written)
    install_log("registry\tset", root_number, key_path, name ? name : "", value, nullptr);
  if (!log) return;
  // The created keys, parent first.
  for (size_t i = 0; first_new != PATH_SIZE; i++) {
    char c = prefix[i];
    if (c && c != '\\') continue;
    if (i >= first_new) {
      prefix[i] = 0;
      log_value(LOGGED_VALUE_KEY, root, prefix, nullptr, nullptr);
      prefix[i] = c;
    }
    if (!c) break;
  }
  if (written && !value_existed)
    log_value(LOGGED_VALUE_REGISTRY, root, key_path, name ? name : "", nullptr);
}

void write_logged_ini_string(const char* file, const char* section, const char* key,
                             const char* value) {
  bool log = g_log.f != INVALID_FILE && loggable(file, false, false) &&
             loggable(section, false, false) && loggable(key, false, false);
  bool file_existed =
      !loggable_file_path(file) || GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES;
  bool entry_existed = ini_entry_exists(file, section, key);
  if (!WritePrivateProfileStringA(section, key, value, file)) return;
  install_log("ini\tset", file, section, key, value, nullptr);
  WritePrivateProfileStringA(NULL, NULL, NULL, file); // written out at once
  if (!log) return;
  if (!file_existed) log_value(LOGGED_VALUE_INI_FILE, nullptr, file, nullptr, nullptr);
  if (!entry_existed) log_value(LOGGED_VALUE_INI, nullptr, file, section, key);
}

void write_uninstall_log(const char* uninstaller_path) {
  FileHandle f = file_open(uninstaller_path, FILE_READ_WRITE);
  uint32_t e0 = f != INVALID_FILE ? file_seek(f, 0, FROM_END) : FILE_BAD_POSITION;
  // A file too short to hold the first header gets no log at all; its
  // shortcuts and its key are still made.
  if (f != INVALID_FILE && (e0 == FILE_BAD_POSITION || e0 < RECORD_HEADER_SIZE)) {
    file_close(f);
    f = INVALID_FILE;
  }
  append_backslash(g_app.install_folder, PATH_SIZE);
  if (f != INVALID_FILE) write_file_log_record(f, e0);
  make_start_menu_shortcuts(f);

  const LanguageRecord* language = g_package.current_language;
  const char* key_name = language ? language->uninstall_key : nullptr;
  char key_path[PATH_SIZE];
  if (key_name && key_name[0] && uninstall_key_path(key_path, PATH_SIZE, key_name)) {
    register_uninstall_key(key_path, key_name, uninstaller_path);
    if (f != INVALID_FILE) write_key_log_record(f, key_path);
  }
  if (f != INVALID_FILE) {
    g_log.f = f;
    g_log.value_count = 0;
    g_log.values_start = begin_counted_record(f, LOG_TAG_VALUES);
    carry_earlier_values();
  }
  forget_earlier_log();
}

void close_uninstall_log() {
  FileHandle f = g_log.f;
  if (f == INVALID_FILE) return;
  finish_counted_record(f, g_log.values_start, LOG_TAG_VALUES, g_log.value_count);
  write_end_record(f);
  file_close(f);
  g_log.f = INVALID_FILE;
}

void register_install_folder() {
  const LanguageRecord* language = g_package.current_language;
  if (!language) return;
  const char* folder = g_app.install_folder;
  if ((language->flags & LANG_STORE_FOLDER_REGISTRY) && language->registry_key) {
    HKEY root = list_root_key(language->registry_root);
    if (root) // a null value name: the default value
      set_logged_registry_string(root, language->registry_key, language->registry_value, folder,
                                 (uint32_t)text_length(folder) + 1);
  }
  if ((language->flags & LANG_STORE_FOLDER_INI) && language->ini_file && language->ini_section &&
      language->ini_key) {
    write_logged_ini_string(language->ini_file, language->ini_section, language->ini_key, folder);
  }
}

void remove_previous_installations() {
  for (int b = 0; b < g_package.block_count; b++) {
    if (b == g_package.current_block) continue;
    const LanguageBlock& block = g_package.blocks[b];
    const Buffer& list = block.file_list;
    if (!list.data || read_u32(list.data) == 0) continue;
    if (!(entry_flags(list.data + 4) & ENTRY_UNINSTALLER)) continue;
    const char* key_name = block.language.uninstall_key;
    char key_path[PATH_SIZE];
    if (!key_name || !key_name[0] || !uninstall_key_path(key_path, PATH_SIZE, key_name)) continue;

    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
      continue;
    char path[UNINSTALL_STRING_SIZE] = {};
    DWORD size = UNINSTALL_STRING_SIZE - 1; // a stored value without its NUL stays terminated
    LONG read = RegQueryValueExA(key, "UninstallString", NULL, NULL, (BYTE*)path, &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) continue;
    unquote_program(path);
    FileHandle f = file_open(path, FILE_READ);
    if (f == INVALID_FILE) continue;
    file_close(f);

    // An uninstaller that did not finish its work (a damaged log, something
    // it could not remove) stays, with its key, so that the earlier
    // installation can still be removed later.
    // One that removed everything but left files in use to the next start
    // of Windows (3010) has done its part too.
    uint32_t exit_code = 1;
    if (!run_and_wait(path, "/X", &exit_code)) continue;
    if (exit_code != EXIT_DONE && exit_code != EXIT_RESTART) continue;
    // The uninstaller may still hold its own file for a moment after its
    // process has ended. The short sleep keeps the loop off the processor.
    DWORD ended = GetTickCount();
    MSG message;
    bool deleted;
    while (!(deleted = DeleteFileA(path)) && GetTickCount() - ended < DELETE_WAIT_MS) {
      PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
      Sleep(20);
    }
    // Its folder, the earlier install folder, goes too once nothing is left
    // in it (RemoveDirectoryA never removes a folder that holds anything).
    char* name = (char*)last_separator(path);
    if (deleted && name && name > path && name[-1] != ':') {
      *name = 0;
      RemoveDirectoryA(path);
    }
  }
}
