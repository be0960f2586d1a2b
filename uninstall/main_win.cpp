// Entry point of the uninstaller: reads the log behind its own image, asks,
// removes, reports, and has its own file removed.
#include <ole2.h>

#include "common/file.h"
#include "common/heap.h"
#include "common/state.h"
#include "common/text.h"
#include "install/install_log.h"
#include "uninstall/pe_image.h"
#include "uninstall/uninstall.h"

namespace {

// The uninstaller itself is small and its log grows with the installation;
// anything larger than this is not an uninstaller file.
const uint32_t MAX_FILE_SIZE = 64u << 20;

struct Options {
  bool silent;         // /Q (or /S)
  bool by_setup;       // /X
  bool finish_removal; // /R path
  char original[MAX_PATH];
  char log[MAX_PATH]; // /LOG=file
};

bool is_space(char c) {
  return c == ' ' || c == '\t';
}

// The next word of the command line into out (quotes group words and are
// dropped); false at the end of the line. A word too long for `out` is cut.
bool next_word(const char*& p, char* out, size_t cap) {
  while (is_space(*p)) p++;
  if (!*p) return false;
  size_t n = 0;
  bool quoted = false;
  for (; *p && (quoted || !is_space(*p)); p++) {
    if (*p == '"')
      quoted = !quoted;
    else if (n + 1 < cap)
      out[n++] = *p;
  }
  out[n] = 0;
  return true;
}

bool is_switch(const char* word, char letter) {
  return (word[0] == '/' || word[0] == '-') && (word[1] | 0x20) == letter && word[2] == 0;
}

void parse_options(const char* line, Options* o) {
  char word[MAX_PATH];
  while (next_word(line, word, sizeof word)) {
    if (is_switch(word, 'q') || is_switch(word, 's'))
      o->silent = true;
    else if (is_switch(word, 'x'))
      o->by_setup = true;
    else if (is_switch(word, 'r'))
      o->finish_removal = next_word(line, o->original, MAX_PATH);
    else if ((word[0] == '/' || word[0] == '-') && compare_nocase_n(word + 1, "log=", 4) == 0)
      text_copy_cut(o->log, MAX_PATH, word + 5);
  }
}

// The program's own path in its long form: the SharedDLLs counts and the
// uninstall key hold long paths. GetLongPathNameA is missing before Windows
// 98 and NT 5, where a program's path is long already.
bool own_path(char* out) {
  DWORD n = GetModuleFileNameA(NULL, out, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  typedef DWORD(WINAPI * LongPathName)(LPCSTR, LPSTR, DWORD);
  LongPathName long_path_name =
      (LongPathName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA");
  char long_form[MAX_PATH];
  if (long_path_name) {
    n = long_path_name(out, long_form, MAX_PATH);
    if (n && n < MAX_PATH) text_copy(out, MAX_PATH, long_form);
  }
  return true;
}

// The product's name for the question and the report: the key's
// "DisplayName", else the key name, else the install folder's name.
void product_name(const CheckedLog& log, const char* install_folder, char* out) {
  out[0] = 0;
  char name[MAX_PATH];
  if (uninstall_key_name(log, name, sizeof name)) {
    char path[sizeof UNINSTALL_KEY_PREFIX + MAX_PATH];
    text_copy(path, sizeof path, UNINSTALL_KEY_PREFIX);
    text_append(path, sizeof path, name);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      DWORD size = MAX_PATH - 1, type = 0;
      if (RegQueryValueExA(key, "DisplayName", NULL, &type, (BYTE*)out, &size) != ERROR_SUCCESS ||
          type != REG_SZ)
        out[0] = 0;
      out[MAX_PATH - 1] = 0;
      RegCloseKey(key);
    }
    if (!out[0]) text_copy(out, MAX_PATH, name);
    return;
  }
  text_copy_cut(name, sizeof name, install_folder);
  remove_trailing_backslash(name);
  const char* last = last_separator(name);
  text_copy_cut(out, MAX_PATH, last ? last + 1 : name);
}

int show(const char* message, UINT flags) {
  return MessageBoxA(NULL, message, text(TEXT_CAPTION), flags | MB_SETFOREGROUND);
}

// The progress window of an interactive run: the progress text and a count
// of the files done, in a small captioned window.
HWND g_progress_frame, g_progress_label;
char g_progress_text[UNINSTALL_TEXT_MAX + MAX_PATH + 1];

void show_progress(uint32_t done, uint32_t total) {
  char line[sizeof g_progress_text + 32], number[16];
  text_copy(line, sizeof line, g_progress_text);
  format_text(number, sizeof number, "\n\n%u", number_arg((long)done));
  text_append(line, sizeof line, number);
  format_text(number, sizeof number, " / %u", number_arg((long)total));
  text_append(line, sizeof line, number);
  SetWindowTextA(g_progress_label, line);
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void open_progress(const char* product) {
  format_text(g_progress_text, sizeof g_progress_text, text(TEXT_PROGRESS), text_arg(product));
  const int width = 420, height = 130;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
      y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HINSTANCE instance = GetModuleHandleA(NULL);
  // A window class of its own, so that nothing takes it for a message box.
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_WAIT);
  window_class.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  window_class.lpszClassName = "PakwizUninstallProgress";
  RegisterClassA(&window_class);
  g_progress_frame = CreateWindowExA(0, window_class.lpszClassName, text(TEXT_CAPTION),
                                     WS_POPUP | WS_CAPTION | WS_VISIBLE, x, y, width, height, NULL,
                                     NULL, instance, NULL);
  if (!g_progress_frame) return;
  RECT client;
  GetClientRect(g_progress_frame, &client);
  g_progress_label = CreateWindowExA(0, "STATIC", g_progress_text,
                                     WS_CHILD | WS_VISIBLE | SS_CENTER, 10, 12, client.right - 20,
                                     client.bottom - 20, g_progress_frame, NULL, instance, NULL);
  SendMessageA(g_progress_label, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), 0);
  g_removal_progress = show_progress;
  show_progress(0, 0);
}

void close_progress() {
  g_removal_progress = nullptr;
  if (g_progress_frame) DestroyWindow(g_progress_frame);
  g_progress_frame = g_progress_label = NULL;
}

void report(const char* product, const RemovalReport& r) {
  char message[2048];
  format_text(message, sizeof message, text(TEXT_DONE), text_arg(product));
  if (r.scheduled) {
    text_append(message, sizeof message, "\n\n");
    text_append(message, sizeof message, text(TEXT_RESTART));
  }
  if (r.failed) {
    text_append(message, sizeof message, "\n\n");
    text_append(message, sizeof message, text(TEXT_FAILED));
  }
  show(message, r.failed ? MB_ICONWARNING : MB_ICONINFORMATION);
}

int remove_installation(const Options& o, bool quiet) {
  char own[MAX_PATH], install_folder[MAX_PATH], product[MAX_PATH], message[2048];
  uint32_t size = 0, at = 0;
  uint8_t* file = own_path(own) ? read_whole_file(own, &size) : nullptr;
  CheckedLog log;
  if (file) use_data_texts(file, size);
  if (file) at = find_uninstall_log(file, size);
  if (!at || !check_uninstall_log(file + at, size - at, &log)) {
    heap_free(file);
    if (!quiet) show(text(TEXT_NO_LOG), MB_ICONSTOP);
    return UNINSTALL_NO_LOG;
  }
  // The uninstaller lies in the install folder: "." in the log is its folder.
  text_copy(install_folder, sizeof install_folder, own);
  char* last = (char*)last_separator(install_folder);
  if (last) last[1] = 0;

  product_name(log, install_folder, product);
  if (!quiet) {
    format_text(message, sizeof message, text(TEXT_ASK), text_arg(product));
    if (show(message, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
      heap_free(file);
      return UNINSTALL_CANCELLED;
    }
  }

  // Some libraries expect COM when they unregister themselves.
  HRESULT ole = OleInitialize(NULL);
  load_protected_folders();
  // The current folder may be one that is about to be removed.
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, temp);
  if (n && n < MAX_PATH) SetCurrentDirectoryA(temp);

  RemovalReport removal;
  if (!quiet) open_progress(product);
  remove_logged_items(log, install_folder, own, &removal);
  close_progress();
  if (!quiet) report(product, removal);
  // Under /X the installation that started this process deletes the file
  // once the process has ended; nothing may outlive it.
  if (!o.by_setup) remove_self(own, file, at);

  release_protected_folders();
  if (SUCCEEDED(ole)) OleUninitialize();
  heap_free(file);
  return removal.failed ? UNINSTALL_FAILED : removal.scheduled ? UNINSTALL_RESTART : UNINSTALL_DONE;
}

int uninstall(const Options& o) {
  bool quiet = o.silent || o.by_setup;
  if (o.log[0] && !install_log_open(o.log, "uninstall")) return EXIT_LOG_FAILED;
  int code = remove_installation(o, quiet);
  install_log_close(code);
  return code;
}

} // namespace

uint8_t* read_whole_file(const char* path, uint32_t* size) {
  FileHandle f = file_open(path, FILE_READ);
  if (f == INVALID_FILE) return nullptr;
  uint32_t n = file_size(f);
  uint8_t* data = n != FILE_BAD_POSITION && n <= MAX_FILE_SIZE ? (uint8_t*)heap_alloc(n) : nullptr;
  if (data && file_read_exact(f, data, n) != FILE_OK) free_and_clear(data);
  file_close(f);
  if (data) *size = n;
  return data;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  // Libraries that cannot be loaded while unregistering, and drives without
  // media, fail quietly instead of stopping the program with a system box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  g_app.platform_nt = (GetVersion() & 0x80000000u) == 0; // the restart services ask
  choose_texts();
  Options options = {};
  parse_options(command_line, &options);
  if (options.finish_removal) return finish_self_removal(options.original);
  return uninstall(options);
}
