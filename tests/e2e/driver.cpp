// The end-to-end driver: a Win32 program that runs a scenario (a small text
// script, see README.md) against a real setup executable under Wine. It
// starts the setup, finds its windows through the window tree like any other
// program would (the frame by its class, the main dialog and the page among
// its children), presses buttons by control ID, answers message boxes, reads
// texts back, checks screen pixels and files, and saves a screenshot of each
// page. Exit code 0 when every step passed, 1 at the first failing step.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <psapi.h>
#include <shellapi.h>
#include <winternl.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cstdarg>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/uninstall_log_reader.h"

namespace {

// ---------------------------------------------------------------------------
// Failures and logging.

struct StepFailure {
  std::string what;
};

[[noreturn]] void fail(const std::string& what) {
  throw StepFailure{what};
}

void log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  // Seconds since the driver started, to see where a slow run spends its time.
  static const DWORD started = GetTickCount();
  fprintf(stdout, "[e2e %.2f] ", (GetTickCount() - started) / 1000.0);
  vfprintf(stdout, format, args);
  fprintf(stdout, "\n");
  fflush(stdout);
  va_end(args);
}

std::string quote(const std::string& s) {
  return "\"" + s + "\"";
}

bool ends_with_nocase(const std::string& s, const std::string& tail) {
  if (tail.size() > s.size()) return false;
  return _stricmp(s.c_str() + s.size() - tail.size(), tail.c_str()) == 0;
}

std::string lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

std::string slug(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (isalnum((unsigned char)c))
      out += (char)tolower((unsigned char)c);
    else if (!out.empty() && out.back() != '-')
      out += '-';
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out.empty() ? "page" : out;
}

// ---------------------------------------------------------------------------
// Windows of other processes.

std::string class_of(HWND w) {
  char name[64] = "";
  GetClassNameA(w, name, sizeof name);
  return name;
}

DWORD process_of(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

// Text of another process's window (WM_GETTEXT is marshalled; GetWindowText
// is not, for edit controls).
std::string text_of(HWND w) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    fail("window does not answer WM_GETTEXTLENGTH");
  std::vector<char> buffer(length + 2, 0);
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, (WPARAM)buffer.size(), (LPARAM)buffer.data(), SMTO_ABORTIFHUNG,
                      5000, &got);
  return std::string(buffer.data());
}

std::vector<HWND> top_level_windows() {
  std::vector<HWND> list;
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        ((std::vector<HWND>*)p)->push_back(w);
        return TRUE;
      },
      (LPARAM)&list);
  return list;
}

std::vector<HWND> direct_children(HWND parent, const char* class_name) {
  std::vector<HWND> list;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (!class_name || class_of(c) == class_name) list.push_back(c);
  return list;
}

// ---------------------------------------------------------------------------
// Screen captures and BMP files.

struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels; // 0x00RRGGBB, top row first
  uint32_t at(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

Image capture_screen() {
  Image image;
  image.width = GetSystemMetrics(SM_CXSCREEN);
  image.height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height; // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  if (!dib) fail("cannot create the screenshot bitmap");
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, image.width, image.height, screen, 0, 0, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  image.pixels.resize((size_t)image.width * image.height);
  const uint32_t* p = (const uint32_t*)bits;
  for (size_t i = 0; i < image.pixels.size(); i++) image.pixels[i] = p[i] & 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  return image;
}

void write_u16(std::ofstream& f, uint16_t v) {
  f.write((const char*)&v, 2);
}
void write_u32(std::ofstream& f, uint32_t v) {
  f.write((const char*)&v, 4);
}

// A 24-bit bottom-up BMP, which every converter reads.
void save_bmp(const std::string& path, const Image& image) {
  std::ofstream f(path, std::ios::binary);
  if (!f) fail("cannot write " + path);
  uint32_t stride = ((uint32_t)image.width * 3 + 3) & ~3u;
  uint32_t size = stride * (uint32_t)image.height;
  write_u16(f, 0x4D42);
  write_u32(f, 54 + size);
  write_u32(f, 0);
  write_u32(f, 54);
  write_u32(f, 40);
  write_u32(f, (uint32_t)image.width);
  write_u32(f, (uint32_t)image.height);
  write_u16(f, 1);
  write_u16(f, 24);
  for (int i = 0; i < 6; i++) write_u32(f, 0);
  std::vector<uint8_t> row(stride, 0);
  for (int y = image.height - 1; y >= 0; y--) {
    for (int x = 0; x < image.width; x++) {
      uint32_t p = image.at(x, y);
      row[x * 3] = (uint8_t)p;
      row[x * 3 + 1] = (uint8_t)(p >> 8);
      row[x * 3 + 2] = (uint8_t)(p >> 16);
    }
    f.write((const char*)row.data(), stride);
  }
}

// An uncompressed 8-, 24- or 32-bit BMP file (the test bitmaps of the projects).
Image load_bmp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') fail("not a BMP file: " + path);
  auto u32 = [&](size_t at) {
    return (uint32_t)(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24);
  };
  uint32_t offset = u32(10);
  int32_t width = (int32_t)u32(18), height = (int32_t)u32(22);
  int bits = b[28] | b[29] << 8;
  if ((bits != 8 && bits != 24 && bits != 32) || u32(30) != 0 || width <= 0 || height == 0)
    fail("only uncompressed 8-, 24- or 32-bit BMP files can be compared: " + path);
  uint32_t colours = bits == 8 ? (u32(46) ? u32(46) : 256) : 0;
  if (14 + 40 + 4 * (uint64_t)colours > b.size()) fail("BMP colour table cut short: " + path);
  bool bottom_up = height > 0;
  if (height < 0) height = -height;
  uint32_t stride = ((uint32_t)width * bits / 8 + 3) & ~3u;
  if (offset + (uint64_t)stride * height > b.size()) fail("BMP file cut short: " + path);
  Image image;
  image.width = width;
  image.height = height;
  image.pixels.resize((size_t)width * height);
  for (int y = 0; y < height; y++) {
    const uint8_t* row = b.data() + offset + (size_t)stride * (bottom_up ? height - 1 - y : y);
    for (int x = 0; x < width; x++) {
      const uint8_t* p = bits == 8 ? b.data() + 54 + 4 * std::min<uint32_t>(row[x], colours - 1)
                                   : row + x * (bits / 8);
      image.pixels[(size_t)y * width + x] = p[0] | p[1] << 8 | p[2] << 16;
    }
  }
  return image;
}

int channel_distance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int shift = 0; shift < 24; shift += 8)
    d = std::max(d, abs((int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF)));
  return d;
}

std::string rgb_text(uint32_t c) {
  char s[32];
  snprintf(s, sizeof s, "(%u, %u, %u)", (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
  return s;
}

// ---------------------------------------------------------------------------
// The full-screen background, computed independently from its definition:
// line v of a client of height H is blue 255 - floor(255 v^2 / H^2); each
// band of 8 lines is an 8 x 8 pattern (a bottom-up DIB, so memory row r lies
// on band line 7 - r) whose pixel (r, c) is the colour of line
// min(top + 8 * M[r][c], H).

const int DITHER[8][8] = {
    {0, 3, 1, 4, 2, 5, 3, 6}, {7, 4, 6, 3, 5, 2, 4, 1}, {2, 5, 3, 6, 4, 7, 5, 0},
    {1, 6, 0, 5, 7, 4, 6, 3}, {4, 7, 5, 0, 6, 1, 7, 2}, {3, 0, 2, 7, 1, 6, 0, 5},
    {6, 1, 7, 2, 0, 3, 1, 4}, {5, 2, 4, 1, 3, 0, 2, 7},
};

uint32_t gradient_line(int v, int height) {
  long long blue = 255 - (255LL * v * v) / ((long long)height * height);
  return (uint32_t)blue;
}

uint32_t gradient_pixel(int x, int y, int height) {
  int top = y - y % 8;
  int row = 7 - y % 8;
  int line = std::min(top + 8 * DITHER[row][x % 8], height);
  return gradient_line(line, height);
}

// ---------------------------------------------------------------------------
// Shell links and the uninstall log, read back the way a user's tools would.

struct LinkInfo {
  std::string path, arguments, folder, icon;
  int icon_index = 0;
};

LinkInfo read_shell_link(const std::string& link_path) {
  static bool com = SUCCEEDED(CoInitialize(NULL));
  (void)com;
  IShellLinkA* link = NULL;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              (void**)&link)))
    fail("cannot create a shell link object");
  IPersistFile* file = NULL;
  LinkInfo info;
  bool loaded = false;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link_path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(file->Load(wide, STGM_READ))) {
      loaded = true;
      char text[MAX_PATH] = "";
      link->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH);
      info.path = text;
      text[0] = 0;
      link->GetArguments(text, MAX_PATH);
      info.arguments = text;
      text[0] = 0;
      link->GetWorkingDirectory(text, MAX_PATH);
      info.folder = text;
      text[0] = 0;
      link->GetIconLocation(text, MAX_PATH, &info.icon_index);
      info.icon = text;
    }
    file->Release();
  }
  link->Release();
  if (!loaded) fail("cannot load the shell link " + link_path);
  return info;
}

// The log as items of the expect-uninstall-log step: "file|FOLDER|NAME|FLAGS",
// "link|FOLDER|NAME", "key|HKLM\PATH", and the value entries (value_item).
std::vector<std::string> uninstall_log_items(const UninstallLog& log) {
  std::vector<std::string> items;
  for (const LoggedFile& f : log.files)
    items.push_back("file|" + f.folder + "|" + f.name + "|" + std::to_string(f.flags));
  for (const LoggedLink& l : log.shortcuts) items.push_back("link|" + l.folder + "|" + l.name);
  if (log.has_key) {
    char root[16] = "HKLM";
    if (log.key_root != 0x80000002u) snprintf(root, sizeof root, "%08X", (unsigned)log.key_root);
    items.push_back(std::string("key|") + root + "\\" + log.key_path);
  }
  for (const LoggedValue& v : log.values) items.push_back(value_item(v));
  return items;
}

std::string shell_folder(int csidl) {
  char path[MAX_PATH] = "";
  if (SHGetFolderPathA(NULL, csidl, NULL, 0, path) != S_OK) return "";
  return path;
}

std::string utc_date() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return std::to_string(t.wYear * 10000 + t.wMonth * 100 + t.wDay);
}

// ---------------------------------------------------------------------------
// The scenario.

struct Step {
  int line;
  std::string command;
  std::vector<std::string> args;
  std::string rest; // the text behind the command, expanded, for raw command lines
};

class Driver {
public:
  std::string setup, work, shots;
  std::string events; // --events FILE: what happened, one tab-separated line each
  int timeout_ms = 15000;

  int run(const std::vector<Step>& steps);

private:
  HANDLE process_ = NULL;
  DWORD pid_ = 0;
  std::map<std::string, HANDLE> locked_; // lock-file: open without sharing
  bool exited_ = false;
  DWORD started_at_ = 0; // tick count at the last start, for the log
  DWORD last_run_exit_ = 0;
  bool have_last_run_ = false;
  LARGE_INTEGER stopwatch_ = {};
  HWND last_page_ = NULL;
  int shot_number_ = 0;
  HWND cover_ = NULL;
  std::vector<std::string> pages_seen_;
  int walk_language_ = -1;  // walk-language N: the block the walk picks
  std::string walk_folder_; // walk-folder DIR: the folder the walk types

  // --- events for the program that started the driver: a UTF-8 line of fields
  // separated by tabs (tabs and line breaks inside a field become spaces and
  // "\n").
  void event(const std::vector<std::string>& fields) {
    if (events.empty()) return;
    std::string line;
    for (const std::string& f : fields) {
      if (!line.empty()) line += '\t';
      for (size_t i = 0; i < f.size(); i++) {
        if (f[i] == '\r' && i + 1 < f.size() && f[i + 1] == '\n') continue;
        line += f[i] == '\n' ? std::string("\\n") : f[i] == '\t' ? " " : std::string(1, f[i]);
      }
    }
    // Window texts are in the ANSI code page; the events are UTF-8.
    std::wstring wide(line.size() + 1, L'\0');
    int n =
        MultiByteToWideChar(CP_ACP, 0, line.c_str(), (int)line.size(), &wide[0], (int)wide.size());
    std::string utf8((size_t)n * 3 + 1, '\0');
    int m =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), n, &utf8[0], (int)utf8.size(), NULL, NULL);
    utf8.resize((size_t)std::max(m, 0));
    std::ofstream out(events, std::ios::app | std::ios::binary);
    out << utf8 << "\n";
  }
  // A page seen: its heading, and on the finish page the first text (the
  // failure line after a failed installation) and whether it offers to
  // restart Windows (the relabelled Back button).
  void page_event(HWND p, const std::string& heading_text) {
    bool finish = GetDlgItem(p, 1014) || GetDlgItem(p, 1015);
    event({"page", heading_text, finish ? "finish" : ""});
    if (!finish) return;
    if (HWND t = GetDlgItem(p, 1000)) event({"finish-text", text_of(t)});
    HWND back = GetDlgItem(main_dialog(), 1007);
    if (back && IsWindowVisible(back) && IsWindowEnabled(back)) event({"restart", text_of(back)});
  }

  // --- processes
  void start_process(const std::string& command_line) {
    close_process();
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back(0);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
      fail("cannot start " + command_line + " (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    exited_ = false;
    last_page_ = NULL;
    started_at_ = GetTickCount();
    log("started %s (process %lu)", command_line.c_str(), (unsigned long)pid_);
  }
  void close_process() {
    if (process_) CloseHandle(process_);
    process_ = NULL;
    pid_ = 0;
  }
  bool running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  // What a step that waited in vain tells of a setup that ended: its exit
  // code, and a wizard frame of another process (a copy it may have found or
  // started).
  std::string ended_text() const {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    std::string text = "the setup process has ended with exit code " + std::to_string(code);
    for (HWND w : top_level_windows())
      if (class_of(w) == "PakwizClass" && process_of(w) != pid_)
        text += "; process " + std::to_string(process_of(w)) + " shows a wizard frame";
    return text;
  }
  void need_process() const {
    if (!process_) fail("no setup process is being watched (use start, start-exe or attach)");
  }

  // --- waiting without fixed sleeps: poll a condition, keep the driver's own
  // windows alive, give up after the timeout.
  bool wait_for(const std::function<bool()>& condition, int ms) {
    DWORD start = GetTickCount();
    for (;;) {
      if (condition()) return true;
      if ((int)(GetTickCount() - start) >= ms) return false;
      pump();
      Sleep(20);
    }
  }
  void pump() {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }

  // --- the wizard's windows
  HWND frame() const {
    for (HWND w : top_level_windows())
      if (class_of(w) == "PakwizClass" && (!pid_ || process_of(w) == pid_)) return w;
    return NULL;
  }
  // A visible top-level window of the watched process that is neither the
  // wizard's frame nor a dialog, captioned `caption` (the start-up check's).
  HWND other_window(const std::string& caption) const {
    for (HWND w : top_level_windows()) {
      std::string c = class_of(w);
      if (c != "PakwizClass" && c != "#32770" && process_of(w) == pid_ && IsWindowVisible(w) &&
          text_of(w) == caption)
        return w;
    }
    return NULL;
  }
  HWND main_dialog() const {
    HWND f = frame();
    if (!f) return NULL;
    for (HWND c : direct_children(f, "#32770")) return c;
    // A main dialog made as a popup is owned by the frame instead.
    for (HWND w : top_level_windows())
      if (GetWindow(w, GW_OWNER) == f && class_of(w) == "#32770" && GetDlgItem(w, 1006)) return w;
    return NULL;
  }
  HWND page() const {
    HWND m = main_dialog();
    if (!m) return NULL;
    for (HWND c : direct_children(m, "#32770"))
      if (IsWindowVisible(c)) return c;
    return NULL;
  }
  HWND need(HWND w, const char* what) const {
    if (!w) fail(std::string("no ") + what + " found");
    return w;
  }
  // The heading as the captions show it: the main dialog's caption in full
  // screen mode, the part of the frame's caption behind " - " in windowed mode.
  bool heading_is(const std::string& heading) const {
    HWND f = frame(), m = main_dialog();
    if (!f || !m) return false;
    if (ends_with_nocase(text_of(f), " - " + heading)) return true;
    return (GetWindowLongA(m, GWL_STYLE) & WS_CAPTION) == WS_CAPTION && text_of(m) == heading;
  }
  std::string heading() const {
    HWND f = frame(), m = main_dialog();
    if (!f || !m) return "";
    if ((GetWindowLongA(m, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) return text_of(m);
    std::string caption = text_of(f);
    size_t dash = caption.find(" - ");
    return dash == std::string::npos ? "" : caption.substr(dash + 3);
  }
  HWND find_control(int id) const {
    HWND p = page();
    if (p)
      if (HWND c = GetDlgItem(p, id)) return c;
    HWND m = main_dialog();
    if (m)
      if (HWND c = GetDlgItem(m, id)) return c;
    return NULL;
  }
  HWND control(int id) const {
    if (HWND c = find_control(id)) return c;
    fail("no control " + std::to_string(id) + " on the page or the main dialog");
  }
  static int button_id(const std::string& name) {
    if (name == "next") return 1;
    if (name == "cancel") return 2;
    if (name == "back") return 1007;
    char* end = nullptr;
    long id = strtol(name.c_str(), &end, 10);
    if (!*name.c_str() || *end) fail("not a control: " + name + " (next, back, cancel or an ID)");
    return (int)id;
  }

  // --- message boxes: top-level dialogs of the watched process other than
  // the wizard, with the message in control 0xFFFF.
  HWND message_box() const {
    for (HWND w : top_level_windows())
      if (class_of(w) == "#32770" && (!pid_ || process_of(w) == pid_) && IsWindowVisible(w) &&
          !GetDlgItem(w, 1006))
        return w;
    return NULL;
  }
  static std::string message_text(HWND box) {
    if (HWND text = GetDlgItem(box, 0xFFFF)) return text_of(text);
    std::string all;
    for (HWND c : direct_children(box, "Static")) all += text_of(c);
    return all;
  }
  static int answer_id(const std::string& name) {
    static const std::map<std::string, int> ids = {
        {"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
        {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO}};
    auto it = ids.find(name);
    if (it == ids.end()) fail("not a message box button: " + name);
    return it->second;
  }

  // --- screenshots: after the setup has painted everything.
  void settle() {
    if (HWND f = frame()) {
      RedrawWindow(f, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      DWORD_PTR r;
      SendMessageTimeoutA(f, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    }
    Sleep(150); // the X server draws asynchronously
  }
  void screenshot(const std::string& name) {
    if (shots.empty()) return;
    settle();
    char number[8];
    snprintf(number, sizeof number, "%02d", ++shot_number_);
    std::string path = shots + "\\" + number + "-" + slug(name) + ".bmp";
    save_bmp(path, capture_screen());
    log("screenshot %s", path.c_str());
    event({"shot", std::string(number) + "-" + slug(name) + ".bmp", name});
  }

  struct ClientArea {
    RECT screen; // the frame's client area in screen coordinates
    RECT dialog; // the main dialog in screen coordinates
  };
  ClientArea client_area() {
    HWND f = need(frame(), "wizard frame");
    ClientArea a;
    GetClientRect(f, &a.screen);
    MapWindowPoints(f, NULL, (POINT*)&a.screen, 2);
    GetWindowRect(need(main_dialog(), "main dialog"), &a.dialog);
    return a;
  }

  std::string command_line_of_process() {
    need_process();
    typedef NTSTATUS(NTAPI * Query)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    Query query =
        (Query)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process_, ProcessBasicInformation, &basic, sizeof basic, NULL) != 0)
      fail("cannot query the process");
    PEB peb;
    RTL_USER_PROCESS_PARAMETERS parameters;
    SIZE_T got;
    if (!ReadProcessMemory(process_, basic.PebBaseAddress, &peb, sizeof peb, &got) ||
        !ReadProcessMemory(process_, peb.ProcessParameters, &parameters, sizeof parameters, &got))
      fail("cannot read the process parameters");
    std::vector<wchar_t> text(parameters.CommandLine.Length / 2 + 1, 0);
    if (!ReadProcessMemory(process_, parameters.CommandLine.Buffer, text.data(),
                           parameters.CommandLine.Length, &got))
      fail("cannot read the command line");
    char ansi[4096] = "";
    WideCharToMultiByte(CP_ACP, 0, text.data(), -1, ansi, sizeof ansi, NULL, NULL);
    return ansi;
  }

  // "HKLM\\Some\\Key" -> the root key and "Some\\Key".
  HKEY registry_root(const std::string& key, std::string* path) {
    size_t slash = key.find('\\');
    std::string root_name = key.substr(0, slash);
    HKEY root = root_name == "HKLM"   ? HKEY_LOCAL_MACHINE
                : root_name == "HKCU" ? HKEY_CURRENT_USER
                : root_name == "HKCR" ? HKEY_CLASSES_ROOT
                : root_name == "HKU"  ? HKEY_USERS
                                      : NULL;
    if (!root || slash == std::string::npos)
      fail("registry key must start with HKLM\\, HKCU\\, HKCR\\ or HKU\\");
    *path = key.substr(slash + 1);
    return root;
  }

  static std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) fail("cannot read " + path);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
  }
  static bool file_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  static int number(const std::string& s) {
    char* end = nullptr;
    long v = strtol(s.c_str(), &end, 0);
    if (s.empty() || *end) fail("not a number: " + s);
    return (int)v;
  }
  static bool yes_no(const std::string& s) {
    if (s == "yes") return true;
    if (s == "no") return false;
    fail("expected yes or no, not " + s);
  }
  static void arity(const Step& s, size_t low, size_t high) {
    if (s.args.size() < low || s.args.size() > high)
      fail(s.command + " takes " +
           (low == high ? std::to_string(low)
                        : std::to_string(low) + " to " + std::to_string(high)) +
           " arguments");
  }

  // --- the folder browser: a top-level dialog of the watched process with
  // the folder field (101) and the folder list (1121).
  HWND browser() const {
    for (HWND w : top_level_windows())
      if (class_of(w) == "#32770" && (!pid_ || process_of(w) == pid_) && IsWindowVisible(w) &&
          GetDlgItem(w, 101) && GetDlgItem(w, 1121))
        return w;
    return NULL;
  }
  HWND browser_control(int id) const {
    HWND c = GetDlgItem(need(browser(), "folder browser"), id);
    if (!c) fail("the folder browser has no control " + std::to_string(id));
    return c;
  }
  void double_click_item(HWND list, const std::string& item);

  void exec(const Step& s);
  std::string module_paths() const;
  static std::string version_info(const std::string& file, const std::string& key);
  static uint32_t icon_centre(const std::string& file);
  void expect_page(const std::string& name, const std::string& heading);
  void walk(int max_pages);
  void choose_on_page(HWND p);
  void check_gradient(int tolerance);
  void check_tiled(const std::string& path, int tolerance);
  void check_billboard(const std::string& path, int tolerance);
  void make_cover();
  void map_removable_drive(const std::string& letter, const std::string& folder);
  void define_drive(char letter, ULONG type, const std::string& unix_path);
  std::vector<char> mapped_drives_;
};

std::string Driver::module_paths() const {
  HMODULE modules[512];
  DWORD bytes = 0;
  std::string out;
  if (!EnumProcessModules(process_, modules, sizeof modules, &bytes)) return out;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; i++) {
    char path[MAX_PATH];
    if (GetModuleFileNameExA(process_, modules[i], path, sizeof path))
      out += std::string(path) + "\n";
  }
  return out;
}

std::string Driver::version_info(const std::string& file, const std::string& key) {
  DWORD handle = 0, size = GetFileVersionInfoSizeA(file.c_str(), &handle);
  if (!size) fail(file + " has no version resource");
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()))
    fail("GetFileVersionInfoA failed on " + file);
  void* value = nullptr;
  UINT length = 0;
  if (key == "file-version" || key == "product-version") {
    if (!VerQueryValueA(data.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
      fail(file + " has no fixed version information");
    const VS_FIXEDFILEINFO* f = (const VS_FIXEDFILEINFO*)value;
    DWORD ms = key == "file-version" ? f->dwFileVersionMS : f->dwProductVersionMS;
    DWORD ls = key == "file-version" ? f->dwFileVersionLS : f->dwProductVersionLS;
    char text[48];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", (unsigned long)HIWORD(ms),
             (unsigned long)LOWORD(ms), (unsigned long)HIWORD(ls), (unsigned long)LOWORD(ls));
    return text;
  }
  // The string table named by the first translation.
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4)
    fail(file + " has no translation");
  const WORD* t = (const WORD*)value;
  char path[96];
  snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", t[0], t[1], key.c_str());
  if (!VerQueryValueA(data.data(), path, &value, &length)) fail(file + " has no " + key);
  return std::string((const char*)value);
}

uint32_t Driver::icon_centre(const std::string& file) {
  HICON large = NULL;
  if (ExtractIconExA(file.c_str(), 0, &large, NULL, 1) != 1 || !large)
    fail("no icon could be extracted from " + file);
  HDC screen = GetDC(NULL);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all = {0, 0, 32, 32};
  FillRect(dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
  DrawIconEx(dc, 0, 0, large, 32, 32, 0, NULL, DI_NORMAL);
  COLORREF c = GetPixel(dc, 16, 16);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(NULL, screen);
  DestroyIcon(large);
  return (uint32_t)(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
}

void Driver::expect_page(const std::string& name, const std::string& heading_text) {
  HWND previous = last_page_;
  HWND found = NULL;
  bool ok = wait_for(
      [&] {
        HWND p = page();
        if (!p || p == previous) return false;
        if (!heading_text.empty() && !heading_is(heading_text)) return false;
        found = p;
        return true;
      },
      timeout_ms);
  if (!ok) {
    std::string now = page() ? "page with heading " + quote(heading()) : "no page";
    if (page() && page() == previous) now = "still the previous page";
    fail("expected page " + name + (heading_text.empty() ? "" : " " + quote(heading_text)) +
         ", found " + now);
  }
  last_page_ = found;
  pages_seen_.push_back(name);
  log("page %s after %lu ms since the start", name.c_str(),
      (unsigned long)(GetTickCount() - started_at_));
  page_event(found, heading());
  screenshot(name);
}

void Driver::check_gradient(int tolerance) {
  settle();
  ClientArea a = client_area();
  Image shot = capture_screen();
  int height = a.screen.bottom - a.screen.top;
  int width = a.screen.right - a.screen.left;
  if (height <= 0) fail("the frame has no client area");
  // Columns right of the main dialog (the title is painted top left).
  int x0 = std::max((int)(a.dialog.right - a.screen.left) + 8, width - 64);
  int checked = 0, wrong = 0;
  std::string first;
  for (int y = 0; y < height; y++)
    for (int x = x0; x < width; x++) {
      int sx = a.screen.left + x, sy = a.screen.top + y;
      if (sx < 0 || sy < 0 || sx >= shot.width || sy >= shot.height) continue;
      uint32_t want = gradient_pixel(x, y, height), got = shot.at(sx, sy);
      checked++;
      if (channel_distance(want, got) > tolerance) {
        if (!wrong++)
          first = "client (" + std::to_string(x) + ", " + std::to_string(y) + "): want " +
                  rgb_text(want) + ", got " + rgb_text(got);
      }
    }
  if (checked == 0) fail("no background pixel to check");
  if (wrong)
    fail(std::to_string(wrong) + " of " + std::to_string(checked) +
         " gradient pixels differ; first at " + first);
  log("gradient: %d pixels of a %d-line client match", checked, height);
}

void Driver::check_tiled(const std::string& path, int tolerance) {
  Image tile = load_bmp(path);
  settle();
  ClientArea a = client_area();
  Image shot = capture_screen();
  int width = a.screen.right - a.screen.left, height = a.screen.bottom - a.screen.top;
  int checked = 0, wrong = 0;
  std::string first;
  for (int y = 0; y < height; y += 3)
    for (int x = 0; x < width; x += 3) {
      int sx = a.screen.left + x, sy = a.screen.top + y;
      POINT pt = {sx, sy};
      if (PtInRect(&a.dialog, pt) || (x < 600 && y < 80)) continue; // dialog, title
      if (sx >= shot.width || sy >= shot.height) continue;
      uint32_t want = tile.at(x % tile.width, y % tile.height), got = shot.at(sx, sy);
      checked++;
      if (channel_distance(want, got) > tolerance && !wrong++)
        first = "client (" + std::to_string(x) + ", " + std::to_string(y) + "): want " +
                rgb_text(want) + ", got " + rgb_text(got);
    }
  if (wrong)
    fail(std::to_string(wrong) + " of " + std::to_string(checked) +
         " background pixels differ from the tiled bitmap; first at " + first);
  log("tiled background: %d pixels match %s", checked, path.c_str());
}

void Driver::check_billboard(const std::string& path, int tolerance) {
  Image image = load_bmp(path);
  settle();
  HWND area = need(GetDlgItem(need(main_dialog(), "main dialog"), 1011), "billboard area 1011");
  RECT r;
  GetWindowRect(area, &r);
  int x0 = r.left + (r.right - r.left - image.width) / 2;
  int y0 = r.top + (r.bottom - r.top - image.height) / 2;
  Image shot = capture_screen();
  int checked = 0, wrong = 0;
  std::string first;
  // Inside the 1-pixel sunken border, and inside the area (larger images are clipped).
  for (int y = 1; y < image.height - 1; y++)
    for (int x = 1; x < image.width - 1; x++) {
      int sx = x0 + x, sy = y0 + y;
      if (sx < r.left || sy < r.top || sx >= r.right || sy >= r.bottom) continue;
      uint32_t want = image.at(x, y), got = shot.at(sx, sy);
      checked++;
      if (channel_distance(want, got) > tolerance && !wrong++)
        first = "image (" + std::to_string(x) + ", " + std::to_string(y) + "): want " +
                rgb_text(want) + ", got " + rgb_text(got);
    }
  if (checked == 0 || wrong)
    fail(std::to_string(wrong) + " of " + std::to_string(checked) +
         " billboard pixels differ; first at " + first);
  log("billboard: %d pixels match, centred at (%d, %d)", checked, x0, y0);
}

// Wine's mount manager defines drives at run time (as its configuration tool
// does): a drive of type DRIVE_REMOVABLE reads back as removable through
// GetDriveTypeA in every process of the prefix; type DRIVE_NO_ROOT_DIR
// removes the drive again.
struct MountManagerDrive {
  ULONG size, type, fs_type;
  DWORD serial;
  ULONGLONG unix_dev;
  WCHAR letter;
  USHORT mount_point_offset, device_offset, label_offset;
};
const DWORD IOCTL_DEFINE_UNIX_DRIVE = 0x6DC080; // mount manager type 'm', function 32

void Driver::define_drive(char letter, ULONG type, const std::string& unix_path) {
  std::vector<char> buffer(sizeof(MountManagerDrive) + unix_path.size() + 1, 0);
  MountManagerDrive* d = (MountManagerDrive*)buffer.data();
  d->size = (ULONG)buffer.size();
  d->type = type;
  d->fs_type = 1; // unknown
  d->letter = (WCHAR)tolower((unsigned char)letter);
  if (!unix_path.empty()) {
    d->mount_point_offset = sizeof(MountManagerDrive);
    memcpy(buffer.data() + sizeof(MountManagerDrive), unix_path.c_str(), unix_path.size());
  }
  HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (manager == INVALID_HANDLE_VALUE) fail("no mount manager (is this Wine?)");
  DWORD got = 0;
  BOOL ok = DeviceIoControl(manager, IOCTL_DEFINE_UNIX_DRIVE, buffer.data(), d->size, NULL, 0, &got,
                            NULL);
  CloseHandle(manager);
  if (!ok) fail(std::string("the mount manager refused drive ") + letter + ":");
}

void Driver::map_removable_drive(const std::string& letter, const std::string& folder) {
  if (letter.size() != 1 || !isalpha((unsigned char)letter[0]) || tolower(letter[0]) < 'd')
    fail("removable-drive takes a drive letter from d to z");
  CreateDirectoryA(folder.c_str(), NULL);
  typedef char*(CDECL * UnixName)(const WCHAR*);
  UnixName unix_name =
      (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (!unix_name) fail("wine_get_unix_file_name is missing (is this Wine?)");
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH);
  char* path = unix_name(wide);
  if (!path) fail("no Unix path for " + folder);
  std::string unix_path = path;
  HeapFree(GetProcessHeap(), 0, path);
  define_drive(letter[0], DRIVE_REMOVABLE, unix_path);
  mapped_drives_.push_back(letter[0]);
  std::string root = letter + ":\\";
  if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) fail(root + " does not read as removable");
  log("%s is a removable drive on %s", root.c_str(), unix_path.c_str());
}

// Removes a folder with its files and subfolders (read-only ones too).
void remove_tree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = path + "\\" + name;
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(full);
      else
        DeleteFileA(full.c_str());
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
  RemoveDirectoryA(path.c_str());
}

// A user's double click on the item of a list box that reads `item`: the
// mouse messages go to the list, which reports the double click itself.
void Driver::double_click_item(HWND list, const std::string& item) {
  auto ask = [&](UINT message, WPARAM w, LPARAM l) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(list, message, w, l, SMTO_ABORTIFHUNG, 5000, &r))
      fail("the list box does not answer");
    return (LRESULT)r;
  };
  int count = (int)ask(LB_GETCOUNT, 0, 0), index = -1;
  std::string items;
  for (int i = 0; i < count; i++) {
    // The wide message: the list keeps wide strings, and only that form
    // crosses into this process whole.
    std::vector<wchar_t> wide((size_t)std::max<LRESULT>(ask(LB_GETTEXTLEN, i, 0), 0) + 2, 0);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(list, LB_GETTEXT, i, (LPARAM)wide.data(), SMTO_ABORTIFHUNG, 5000, &r);
    char text[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text, sizeof text, NULL, NULL);
    items += (items.empty() ? "" : ", ") + quote(text);
    if (index < 0 && _stricmp(text, item.c_str()) == 0) index = i;
  }
  if (index < 0) fail("no item " + quote(item) + " in the list: " + items);
  ask(LB_SETTOPINDEX, index, 0);
  int top = (int)ask(LB_GETTOPINDEX, 0, 0), height = (int)ask(LB_GETITEMHEIGHT, 0, 0);
  LPARAM at = MAKELPARAM(8, (index - top) * height + height / 2);
  PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(list, WM_LBUTTONUP, 0, at);
  PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageA(list, WM_LBUTTONUP, 0, at);
}

LRESULT CALLBACK cover_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(w, m, wp, lp);
}

void Driver::make_cover() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = cover_proc;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
  wc.lpszClassName = "PakwizE2eCover";
  RegisterClassA(&wc);
  cover_ = CreateWindowExA(0, wc.lpszClassName, "cover", WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL,
                           wc.hInstance, NULL);
  if (!cover_) fail("cannot create the cover window");
  BringWindowToTop(cover_);
  pump();
}

// Walks a wizard like a patient user: at each page it notes the heading and
// saves a screenshot, answers questions with Yes (or OK), presses Next while
// it is enabled and Enter when a page has waited a while without Next.
void Driver::walk(int max_pages) {
  need_process();
  int pages = 0, unanswered = 0;
  for (;;) {
    HWND previous = last_page_;
    HWND box = NULL, fresh = NULL;
    bool ok = wait_for(
        [&] {
          if (!running()) return true;
          if ((box = message_box())) return true;
          HWND p = page();
          if (p && p != previous) {
            fresh = p;
            return true;
          }
          return false;
        },
        timeout_ms * 4);
    if (!running()) {
      DWORD code = 0;
      GetExitCodeProcess(process_, &code);
      log("walk: the setup ended with exit code %d after %d pages", (int)code, pages);
      event({"exit", std::to_string((int)code)});
      exited_ = true;
      last_run_exit_ = code;
      return;
    }
    if (!ok) fail("walk: the wizard stopped moving on page " + quote(heading()));
    if (box) {
      // A box that is closing, or a process too busy to answer for a
      // moment (a loaded machine), is looked at again.
      std::string text;
      try {
        text = message_text(box);
      } catch (const StepFailure&) {
        if (IsWindow(box) && ++unanswered > 20) throw;
        Sleep(250);
        continue;
      }
      unanswered = 0;
      int id = GetDlgItem(box, IDYES) ? IDYES : IDOK;
      log("walk: message %s -> %s", quote(text).c_str(), id == IDYES ? "yes" : "ok");
      event({"message", text, id == IDYES ? "yes" : "ok"});
      screenshot("message");
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
      wait_for([&] { return !IsWindow(box); }, timeout_ms);
      continue;
    }
    last_page_ = fresh;
    std::string h = heading();
    if (++pages > max_pages) fail("walk: more than " + std::to_string(max_pages) + " pages");
    log("walk: page %d: %s", pages, quote(h).c_str());
    pages_seen_.push_back(h);
    page_event(fresh, h);
    screenshot(h);
    choose_on_page(fresh);
    // Press Next as soon as it is enabled; a page that keeps Next disabled
    // (the progress page while it works) gets Enter after a while, the
    // finish page at once.
    DWORD since = GetTickCount();
    if (GetDlgItem(fresh, 1014) || GetDlgItem(fresh, 1015)) since -= 3000;
    for (;;) {
      HWND p = page();
      if (!running() || message_box() || (p && p != fresh)) break;
      HWND next = GetDlgItem(main_dialog(), 1);
      if (next && IsWindowEnabled(next) && IsWindowVisible(next)) {
        PostMessageA(next, BM_CLICK, 0, 0);
        break;
      }
      if (GetTickCount() - since > 3000) {
        PostMessageA(main_dialog(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        since = GetTickCount();
      }
      pump();
      Sleep(50);
    }
  }
}

// The walk's choices: the language block on the language page (its radio
// button switches the page to that language at once) and the folder on the
// destination page, typed into its folder field.
void Driver::choose_on_page(HWND p) {
  DWORD_PTR r = 0;
  HWND radio = walk_language_ >= 0 ? GetDlgItem(p, 1021 + walk_language_) : NULL;
  if (walk_language_ >= 0 && GetDlgItem(p, 1021)) {
    if (!radio || !IsWindowVisible(radio))
      fail("walk: the language page has no language " + std::to_string(walk_language_));
    SendMessageTimeoutA(radio, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    log("walk: language %d", walk_language_);
  }
  HWND folder = GetDlgItem(p, 1004);
  if (!walk_folder_.empty() && folder && GetDlgItem(p, 1005)) {
    if (!SendMessageTimeoutA(folder, WM_SETTEXT, 0, (LPARAM)walk_folder_.c_str(), SMTO_ABORTIFHUNG,
                             5000, &r))
      fail("walk: the folder field does not answer");
    log("walk: folder %s", quote(walk_folder_).c_str());
  }
  if (folder && GetDlgItem(p, 1005)) event({"folder", text_of(folder)});
}

void Driver::exec(const Step& s) {
  const std::string& c = s.command;
  const std::vector<std::string>& a = s.args;
  if (c == "timeout") {
    arity(s, 1, 1);
    timeout_ms = number(a[0]) * 1000;
  } else if (c == "start") {
    start_process(quote(setup) + (s.rest.empty() ? "" : " " + s.rest));
  } else if (c == "start-exe") {
    if (a.empty()) fail("start-exe needs a program");
    // The rest of the line behind the program, which may have been quoted.
    size_t end = s.rest[0] == '"' ? s.rest.find('"', 1) : s.rest.find_first_of(" \t");
    std::string rest = end == std::string::npos ? "" : s.rest.substr(end + (s.rest[0] == '"'));
    start_process(quote(a[0]) + rest);
  } else if (c == "start-registered") {
    // start-registered ROOT\KEY NAME [ARGS]: the command line a string value
    // holds, started as it stands (as Add/Remove Programs starts
    // "UninstallString"), with ARGS behind it.
    arity(s, 2, 3);
    std::string path;
    HKEY root = registry_root(a[0], &path);
    char command[2048] = "";
    DWORD size = sizeof command - 1, type = 0;
    HKEY h;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
      fail("no registry key " + a[0]);
    LONG r = RegQueryValueExA(h, a[1].c_str(), NULL, &type, (BYTE*)command, &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_SZ)
      fail("no string value " + quote(a[1]) + " under " + a[0]);
    start_process(std::string(command) + (a.size() > 2 ? " " + a[2] : ""));
  } else if (c == "attach") {
    arity(s, 0, 0);
    DWORD old = pid_;
    HWND f = NULL;
    if (!wait_for(
            [&] {
              for (HWND w : top_level_windows())
                if (class_of(w) == "PakwizClass" && process_of(w) != old) return (f = w) != NULL;
              return false;
            },
            timeout_ms))
      fail("no other setup process shows a wizard frame");
    DWORD pid = process_of(f);
    HANDLE h = OpenProcess(
        PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    if (!h) fail("cannot open process " + std::to_string(pid));
    close_process();
    process_ = h;
    pid_ = pid;
    exited_ = false;
    last_page_ = NULL;
    log("attached to process %lu", (unsigned long)pid);
  } else if (c == "run") {
    // Another start of the setup that is expected to end by itself.
    std::string line = quote(setup) + (s.rest.empty() ? "" : " " + s.rest);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    if (!CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
      fail("cannot start " + line);
    CloseHandle(pi.hThread);
    bool ended =
        wait_for([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, timeout_ms);
    if (!ended) {
      TerminateProcess(pi.hProcess, 99);
      CloseHandle(pi.hProcess);
      fail("the second start did not end");
    }
    GetExitCodeProcess(pi.hProcess, &last_run_exit_);
    CloseHandle(pi.hProcess);
    have_last_run_ = true;
    log("run ended with exit code %d", (int)last_run_exit_);
  } else if (c == "stopwatch") {
    // stopwatch: start measuring; report-seconds NAME prints "NAME: seconds"
    // since then on a line of its own (for benchmarks).
    arity(s, 0, 0);
    QueryPerformanceCounter(&stopwatch_);
  } else if (c == "report-seconds") {
    arity(s, 1, 1);
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    printf("%s: %.3f\n", a[0].c_str(),
           (double)(now.QuadPart - stopwatch_.QuadPart) / (double)frequency.QuadPart);
    fflush(stdout);
  } else if (c == "run-command") {
    // run-command COMMAND LINE...: start a program (the rest of the line, as
    // written) and wait for it to end with exit code 0.
    if (s.rest.empty()) fail("run-command needs a command line");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> buffer(s.rest.begin(), s.rest.end());
    buffer.push_back(0);
    if (!CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
      fail("cannot start " + s.rest);
    CloseHandle(pi.hThread);
    DWORD code = 1;
    bool ended =
        wait_for([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, timeout_ms);
    if (ended)
      GetExitCodeProcess(pi.hProcess, &code);
    else
      TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    if (!ended) fail(s.rest + " did not end");
    if (code != 0) fail(s.rest + " ended with exit code " + std::to_string(code));
  } else if (c == "expect-run-exit") {
    arity(s, 1, 1);
    if (!have_last_run_) fail("no run step before");
    if ((int)last_run_exit_ != number(a[0]))
      fail("the run ended with " + std::to_string((int)last_run_exit_) + ", expected " + a[0]);
  } else if (c == "expect-page") {
    arity(s, 1, 2);
    expect_page(a[0], a.size() > 1 ? a[1] : "");
  } else if (c == "expect-same-page") {
    arity(s, 0, 0);
    Sleep(500); // nothing to wait for: the check is that nothing happens
    pump();
    HWND p = page();
    if (!p || p != last_page_) fail("the page changed (now " + quote(heading()) + ")");
  } else if (c == "expect-heading") {
    arity(s, 1, 1);
    if (!wait_for([&] { return heading_is(a[0]); }, timeout_ms))
      fail("heading is " + quote(heading()) + ", expected " + quote(a[0]));
  } else if (c == "expect-text" || c == "expect-text-contains") {
    arity(s, 2, 2);
    int id = button_id(a[0]);
    bool contains = c == "expect-text-contains";
    std::string got;
    if (!wait_for(
            [&] {
              got = text_of(control(id));
              return contains ? got.find(a[1]) != std::string::npos : got == a[1];
            },
            timeout_ms))
      fail("control " + a[0] + " reads " + quote(got) + ", expected " +
           (contains ? "it to contain " : "") + quote(a[1]));
  } else if (c == "expect-caption") {
    arity(s, 2, 2);
    HWND w = a[0] == "frame" ? frame() : a[0] == "main" ? main_dialog() : NULL;
    if (a[0] != "frame" && a[0] != "main") fail("expect-caption frame|main TEXT");
    need(w, a[0].c_str());
    std::string got;
    if (!wait_for([&] { return (got = text_of(w)) == a[1]; }, timeout_ms))
      fail("the " + a[0] + " caption reads " + quote(got) + ", expected " + quote(a[1]));
  } else if (c == "expect-enabled" || c == "expect-visible" || c == "expect-checked" ||
             c == "expect-editable") {
    // A click is posted, so the state it changes (a radio button that also
    // switches the page's language) may land a moment after the step starts:
    // wait for it like every other step, looking the control up afresh.
    arity(s, 2, 2);
    int id = button_id(a[0]);
    control(id);
    bool want = yes_no(a[1]);
    bool got = !want;
    wait_for(
        [&] {
          HWND w = find_control(id);
          if (!w) return false;
          got = c == "expect-enabled"    ? IsWindowEnabled(w) != 0
                : c == "expect-visible"  ? IsWindowVisible(w) != 0
                : c == "expect-editable" ? !(GetWindowLongA(w, GWL_STYLE) & ES_READONLY)
                                         : SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
          return got == want;
        },
        timeout_ms);
    if (got != want) fail(c.substr(7) + " of " + a[0] + " is " + (got ? "yes" : "no"));
  } else if (c == "click") {
    arity(s, 1, 1);
    HWND w = control(button_id(a[0]));
    if (!IsWindowVisible(w) || !IsWindowEnabled(w))
      fail(a[0] + " cannot be clicked: it is " + (IsWindowVisible(w) ? "disabled" : "hidden"));
    PostMessageA(w, BM_CLICK, 0, 0);
  } else if (c == "command") {
    arity(s, 1, 1);
    PostMessageA(need(main_dialog(), "main dialog"), WM_COMMAND,
                 MAKEWPARAM(button_id(a[0]), BN_CLICKED), 0);
  } else if (c == "syscommand") {
    arity(s, 1, 2);
    WPARAM cmd = a[0] == "close"      ? SC_CLOSE
                 : a[0] == "minimize" ? SC_MINIMIZE
                 : a[0] == "restore"  ? SC_RESTORE
                                      : 0;
    if (!cmd) fail("syscommand close|minimize|restore [frame|main]");
    HWND w = a.size() > 1 && a[1] == "main" ? main_dialog() : frame();
    PostMessageA(need(w, "window"), WM_SYSCOMMAND, cmd, 0);
  } else if (c == "lock-file" || c == "unlock-file") {
    // lock-file PATH: hold the file open without sharing (a program in use);
    // unlock-file PATH: close it again.
    arity(s, 1, 1);
    auto it = locked_.find(a[0]);
    if (it != locked_.end()) {
      CloseHandle(it->second);
      locked_.erase(it);
    }
    if (c == "lock-file") {
      HANDLE h = CreateFileA(a[0].c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
      if (h == INVALID_HANDLE_VALUE) fail("cannot open " + a[0]);
      locked_[a[0]] = h;
    }
  } else if (c == "answer-message" || c == "answer-message-ending" ||
             c == "answer-message-contains") {
    arity(s, c == "answer-message" ? 1 : 2, 2);
    HWND box = NULL;
    if (!wait_for([&] { return (box = message_box()) != NULL; }, timeout_ms))
      fail("no message box appeared");
    std::string text = message_text(box);
    log("message %s", quote(text).c_str());
    event({"message", text, a[0]});
    screenshot("message");
    if (a.size() > 1) {
      bool matches = c == "answer-message-ending"
                         ? text.size() >= a[1].size() &&
                               !text.compare(text.size() - a[1].size(), a[1].size(), a[1])
                     : c == "answer-message-contains" ? text.find(a[1]) != std::string::npos
                                                      : text == a[1];
      if (!matches)
        fail("message reads " + quote(text) + ", expected " +
             (c == "answer-message-ending"     ? "it to end with "
              : c == "answer-message-contains" ? "it to contain "
                                               : "") +
             quote(a[1]));
    }
    int id = answer_id(a[0]);
    HWND button = GetDlgItem(box, id);
    if (!button) fail("the message box has no " + a[0] + " button");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
    if (!wait_for([&] { return !IsWindow(box); }, timeout_ms)) fail("the message box stayed");
  } else if (c == "expect-no-message") {
    arity(s, 0, 0);
    Sleep(300);
    if (HWND box = message_box()) fail("unexpected message " + quote(message_text(box)));
  } else if (c == "expect-exit") {
    arity(s, 1, 2);
    need_process();
    int ms = a.size() > 1 ? number(a[1]) * 1000 : timeout_ms;
    if (!wait_for([&] { return !running(); }, ms)) fail("the setup is still running");
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exited_ = true;
    event({"exit", std::to_string((int)code)});
    if ((int)code != number(a[0]))
      fail("the setup ended with exit code " + std::to_string((int)code) + ", expected " + a[0]);
  } else if (c == "expect-exit-without-window" || c == "wait-exit-without-window") {
    // The process runs to its end without ever showing a top-level window
    // (checked at every poll while it runs), then ends with CODE;
    // wait-exit-without-window [SECONDS] takes any exit code.
    bool any_code = c[0] == 'w';
    arity(s, any_code ? 0 : 1, any_code ? 1 : 2);
    need_process();
    size_t seconds_at = any_code ? 0 : 1;
    int ms = a.size() > seconds_at ? number(a[seconds_at]) * 1000 : timeout_ms;
    std::string seen;
    bool ended = wait_for(
        [&] {
          for (HWND w = GetTopWindow(NULL); w && seen.empty(); w = GetWindow(w, GW_HWNDNEXT))
            if (IsWindowVisible(w) && process_of(w) == pid_)
              seen = "window " + quote(text_of(w)) + " of class " + class_of(w);
          return !seen.empty() || !running();
        },
        ms);
    if (!seen.empty()) fail("the setup showed a " + seen);
    if (!ended) fail("the setup is still running");
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exited_ = true;
    event({"exit", std::to_string((int)code)});
    if (!any_code && (int)code != number(a[0]))
      fail("the setup ended with exit code " + std::to_string((int)code) + ", expected " + a[0]);
  } else if (c == "expect-running") {
    arity(s, 0, 0);
    need_process();
    if (!running()) fail("the setup has ended");
  } else if (c == "expect-on-top") {
    // The wizard's frame, or a popup of it, is above every other visible
    // top-level window (the cover, for one).
    arity(s, 0, 0);
    HWND f = need(frame(), "wizard frame");
    for (HWND w = GetTopWindow(NULL); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (!IsWindowVisible(w)) continue;
      if (w == f || process_of(w) == process_of(f)) break;
      fail("window " + quote(text_of(w)) + " of class " + class_of(w) + " is above the wizard");
    }
  } else if (c == "cover") {
    arity(s, 0, 0);
    make_cover();
  } else if (c == "screenshot") {
    arity(s, 1, 1);
    screenshot(a[0]);
  } else if (c == "check-pixel") {
    arity(s, 5, 6);
    settle();
    ClientArea area = client_area();
    Image shot = capture_screen();
    int x = number(a[0]), y = number(a[1]);
    uint32_t want = (uint32_t)(number(a[2]) << 16 | number(a[3]) << 8 | number(a[4]));
    uint32_t got = shot.at(area.screen.left + x, area.screen.top + y);
    int tolerance = a.size() > 5 ? number(a[5]) : 0;
    if (channel_distance(want, got) > tolerance)
      fail("client pixel (" + a[0] + ", " + a[1] + ") is " + rgb_text(got) + ", expected " +
           rgb_text(want));
  } else if (c == "check-gradient") {
    arity(s, 0, 1);
    check_gradient(a.empty() ? 0 : number(a[0]));
  } else if (c == "check-tiled-background") {
    arity(s, 1, 2);
    check_tiled(a[0], a.size() > 1 ? number(a[1]) : 0);
  } else if (c == "check-billboard") {
    arity(s, 1, 2);
    check_billboard(a[0], a.size() > 1 ? number(a[1]) : 0);
  } else if (c == "expect-command-line") {
    // The rest of the line as it stands, quotes included.
    std::string got = command_line_of_process();
    if (got != s.rest) fail("the command line is " + quote(got) + ", expected " + quote(s.rest));
  } else if (c == "expect-image") {
    arity(s, 1, 1);
    need_process();
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    if (!QueryFullProcessImageNameA(process_, 0, path, &size)) fail("cannot read the image name");
    if (!ends_with_nocase(path, a[0]))
      fail("the process runs " + quote(path) + ", expected " + a[0]);
  } else if (c == "expect-version-info") {
    // A text of the file's version resource, as Windows reads it; the
    // fixed versions as "file-version" and "product-version".
    arity(s, 3, 3);
    std::string got = version_info(a[0], a[1]);
    if (got != a[2]) fail(a[0] + " " + a[1] + " is " + quote(got) + ", expected " + quote(a[2]));
  } else if (c == "expect-module") {
    // The watched process has loaded a module whose path contains TEXT.
    arity(s, 1, 1);
    need_process();
    std::string modules;
    bool found = wait_for(
        [&] {
          modules = module_paths();
          return lower(modules).find(lower(a[0])) != std::string::npos;
        },
        timeout_ms);
    if (!found)
      fail("no module of the setup process contains " + quote(a[0]) + "; it has:\n" + modules);
  } else if (c == "expect-icon-colour") {
    // The centre pixel of the file's 32x32 icon, as the shell extracts it.
    arity(s, 4, 5);
    uint32_t want = (uint32_t)(number(a[1]) << 16 | number(a[2]) << 8 | number(a[3]));
    uint32_t got = icon_centre(a[0]);
    if (channel_distance(want, got) > (a.size() > 4 ? number(a[4]) : 0))
      fail("the icon of " + a[0] + " is " + rgb_text(got) + " at its centre, expected " +
           rgb_text(want));
  } else if (c == "expect-file") {
    arity(s, 1, 2);
    if (!file_exists(a[0])) fail("no file " + a[0]);
    if (a.size() > 1 && read_bytes(a[0]).size() != (size_t)number(a[1]))
      fail(a[0] + " holds " + std::to_string(read_bytes(a[0]).size()) + " bytes, expected " + a[1]);
  } else if (c == "expect-no-file") {
    arity(s, 1, 1);
    if (file_exists(a[0])) fail("the file " + a[0] + " exists");
  } else if (c == "wait-gone") {
    // A file or folder that another process removes (an uninstaller's
    // helper that outlives it) disappears within the timeout.
    arity(s, 1, 1);
    if (!wait_for([&] { return !file_exists(a[0]); }, timeout_ms)) fail(a[0] + " is still there");
  } else if (c == "wait-file") {
    // A file that the watched process makes appears within the timeout.
    arity(s, 1, 1);
    if (!wait_for([&] { return file_exists(a[0]); }, timeout_ms)) fail("no file " + a[0]);
  } else if (c == "expect-no-key") {
    arity(s, 1, 1);
    std::string path;
    HKEY root = registry_root(a[0], &path), h;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
      RegCloseKey(h);
      fail("the registry key " + a[0] + " exists");
    }
  } else if (c == "expect-no-value") {
    // expect-no-value ROOT\Key\Path NAME: the value is not there (nor its key).
    arity(s, 2, 2);
    std::string path;
    HKEY root = registry_root(a[0], &path), h;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
      LONG found = RegQueryValueExA(h, a[1].c_str(), NULL, NULL, NULL, NULL);
      RegCloseKey(h);
      if (found == ERROR_SUCCESS)
        fail("the registry value " + a[0] + " " + quote(a[1]) + " exists");
    }
  } else if (c == "expect-file-text" || c == "expect-file-contains") {
    arity(s, 2, 2);
    std::vector<uint8_t> b = read_bytes(a[0]);
    std::string content(b.begin(), b.end());
    if (c == "expect-file-text" ? content != a[1] : content.find(a[1]) == std::string::npos)
      fail(a[0] + (c == "expect-file-text" ? " does not hold " : " does not contain ") +
           quote(a[1]) + ":\n" + content);
  } else if (c == "expect-same-bytes") {
    // expect-same-bytes A B [N]: A holds exactly the first N bytes of B, or
    // without N exactly the bytes of B.
    arity(s, 2, 3);
    std::vector<uint8_t> x = read_bytes(a[0]), y = read_bytes(a[1]);
    if (a.size() == 2 && !file_exists(a[1])) fail("no file " + a[1]);
    size_t n = a.size() == 3 ? (size_t)number(a[2]) : y.size();
    if (x.size() != n)
      fail(a[0] + " holds " + std::to_string(x.size()) + " bytes, expected " + std::to_string(n));
    if (y.size() < n || !std::equal(x.begin(), x.end(), y.begin()))
      fail(a[0] + " is not the first " + std::to_string(n) + " bytes of " + a[1]);
  } else if (c == "delete-key") {
    // delete-key ROOT\KEY: the key with everything below it, if it exists.
    arity(s, 1, 1);
    std::string path;
    HKEY root = registry_root(a[0], &path);
    LONG r = RegDeleteTreeA(root, path.c_str());
    if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) {
      RegDeleteKeyA(root, path.c_str());
    } else {
      fail("cannot delete " + a[0]);
    }
  } else if (c == "expect-registry" || c == "expect-registry-contains" ||
             c == "expect-registry-quoted") {
    // expect-registry HKLM\Key\Path NAME VALUE (NAME "" = the default value);
    // -contains: VALUE is a part of it (multi-strings are joined by newlines);
    // -quoted: the value is VALUE in double quotes (a command's program path).
    arity(s, 3, 3);
    const std::string& key = a[0];
    std::string path;
    HKEY root = registry_root(key, &path);
    std::vector<char> data(65536, 0);
    DWORD size = (DWORD)data.size() - 2, type = 0;
    HKEY h;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
      fail("no registry key " + key);
    LONG r = RegQueryValueExA(h, a[1].empty() ? NULL : a[1].c_str(), NULL, &type,
                              (BYTE*)data.data(), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS) fail("no value " + quote(a[1]) + " under " + key);
    std::string got;
    if (type == REG_DWORD) {
      got = std::to_string(*(DWORD*)data.data());
    } else if (type == REG_MULTI_SZ) {
      // Empty strings count too (PendingFileRenameOperations pairs a file to
      // delete with an empty name); the list ends with its last string.
      const char* end = data.data() + size;
      for (const char* p = data.data(); p < end && !(!*p && p + 1 >= end); p += strlen(p) + 1)
        got += (p == data.data() ? "" : "\n") + std::string(p);
    } else {
      got = data.data();
    }
    std::string want = c == "expect-registry-quoted" ? "\"" + a[2] + "\"" : a[2];
    bool ok = c == "expect-registry-contains" ? got.find(want) != std::string::npos : got == want;
    if (!ok)
      fail(key + " " + quote(a[1]) + " is " + quote(got) + ", expected " +
           (c == "expect-registry-contains" ? "it to contain " : "") + quote(want));
  } else if (c == "expect-ini") {
    // expect-ini FILE SECTION KEY VALUE
    arity(s, 4, 4);
    char value[4096] = "";
    GetPrivateProfileStringA(a[1].c_str(), a[2].c_str(), "\x01", value, sizeof value, a[0].c_str());
    if (a[3] != value)
      fail(a[0] + " [" + a[1] + "] " + a[2] + " is " + quote(value) + ", expected " + quote(a[3]));
  } else if (c == "expect-link") {
    // expect-link LINK TARGET [ARGUMENTS [FOLDER [ICON INDEX]]]: a shell link,
    // what it points at, and as far as given its arguments, working folder
    // and icon location (paths compared without regard to case).
    arity(s, 2, 6);
    if (a.size() == 5) fail("expect-link takes the icon's file and its index together");
    if (!file_exists(a[0])) fail("no link file " + a[0]);
    LinkInfo link = read_shell_link(a[0]);
    if (_stricmp(link.path.c_str(), a[1].c_str()) != 0)
      fail(a[0] + " points at " + quote(link.path) + ", expected " + quote(a[1]));
    if (a.size() >= 3 && link.arguments != a[2])
      fail(a[0] + " has the arguments " + quote(link.arguments) + ", expected " + quote(a[2]));
    if (a.size() >= 4 && _stricmp(link.folder.c_str(), a[3].c_str()) != 0)
      fail(a[0] + " has the working folder " + quote(link.folder) + ", expected " + quote(a[3]));
    if (a.size() == 6 &&
        (_stricmp(link.icon.c_str(), a[4].c_str()) != 0 || link.icon_index != number(a[5])))
      fail(a[0] + " has the icon " + quote(link.icon) + "," + std::to_string(link.icon_index) +
           ", expected " + quote(a[4]) + "," + a[5]);
  } else if (c == "expect-uninstall-log") {
    // expect-uninstall-log FILE PROGRAM ITEM...: FILE is the bytes of PROGRAM
    // followed by a complete uninstall log holding exactly these items, in order.
    if (a.size() < 2) fail("expect-uninstall-log takes FILE PROGRAM ITEM...");
    std::vector<uint8_t> file = read_bytes(a[0]), program = read_bytes(a[1]);
    if (file.size() < program.size() || !std::equal(program.begin(), program.end(), file.begin()))
      fail(a[0] + " does not begin with the bytes of " + a[1]);
    UninstallLog log = read_uninstall_log(file, program.size());
    std::vector<std::string> got = uninstall_log_items(log);
    std::vector<std::string> want(a.begin() + 2, a.end());
    if (!log.error.empty() || got != want) {
      std::string text;
      for (const std::string& item : got) text += "\n  " + item;
      fail("the uninstall log of " + a[0] + (log.error.empty() ? "" : " (" + log.error + ")") +
           " holds:" + text);
    }
  } else if (c == "write-file") {
    arity(s, 2, 2);
    std::ofstream f(a[0], std::ios::binary);
    f << a[1];
    if (!f) fail("cannot write " + a[0]);
  } else if (c == "copy") {
    arity(s, 2, 2);
    if (!CopyFileA(a[0].c_str(), a[1].c_str(), FALSE)) fail("cannot copy " + a[0] + " to " + a[1]);
  } else if (c == "create-key") {
    // create-key ROOT\Key\Path: make sure a registry key exists.
    arity(s, 1, 1);
    std::string path;
    HKEY root = registry_root(a[0], &path), h;
    if (RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &h, NULL) != ERROR_SUCCESS)
      fail("cannot create registry key " + a[0]);
    RegCloseKey(h);
  } else if (c == "delete-value") {
    // delete-value ROOT\Key\Path NAME: remove a registry value if it is there.
    arity(s, 2, 2);
    std::string path;
    HKEY root = registry_root(a[0], &path), h;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
      RegDeleteValueA(h, a[1].c_str());
      RegCloseKey(h);
    }
  } else if (c == "expect-complete-or-absent") {
    // expect-complete-or-absent A B: A does not exist, or holds exactly B's
    // bytes (for installations cut short between files).
    arity(s, 2, 2);
    if (file_exists(a[0]) && read_bytes(a[0]) != read_bytes(a[1]))
      fail(a[0] + " exists but differs from " + a[1]);
  } else if (c == "expect-folder-complete-or-absent") {
    // expect-folder-complete-or-absent A B MIN MAX: for every file of folder
    // B, A holds it with exactly its bytes or does not hold it; between MIN
    // and MAX of them are there.
    arity(s, 4, 4);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((a[1] + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) fail("cannot list " + a[1]);
    int present = 0;
    std::string differing;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      std::string installed = a[0] + "\\" + found.cFileName;
      if (!file_exists(installed)) continue;
      present++;
      if (differing.empty() && read_bytes(installed) != read_bytes(a[1] + "\\" + found.cFileName))
        differing = installed;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    if (!differing.empty()) fail(differing + " exists but differs from its source");
    if (present < number(a[2]) || present > number(a[3]))
      fail(std::to_string(present) + " files of " + a[1] + " in " + a[0] + ", expected " + a[2] +
           " to " + a[3]);
  } else if (c == "delete") {
    arity(s, 1, 1);
    DeleteFileA(a[0].c_str());
    if (file_exists(a[0])) fail("cannot delete " + a[0]);
  } else if (c == "flip-byte") {
    // flip-byte PATH OFFSET [PLUS]: invert the byte at OFFSET (+ PLUS; a
    // negative OFFSET counts from the end of the file).
    arity(s, 2, 3);
    std::vector<uint8_t> bytes = read_bytes(a[0]);
    long long at = std::stoll(a[1]) + (a.size() > 2 ? std::stoll(a[2]) : 0);
    if (at < 0) at += (long long)bytes.size();
    if (at < 0 || at >= (long long)bytes.size())
      fail("offset " + std::to_string(at) + " is outside " + a[0]);
    bytes[(size_t)at] = (uint8_t)~bytes[(size_t)at];
    std::ofstream f(a[0], std::ios::binary | std::ios::trunc);
    f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    if (!f) fail("cannot write " + a[0]);
  } else if (c == "kill") {
    // kill: end the watched process at once, as a crash or the task manager would.
    arity(s, 0, 0);
    need_process();
    TerminateProcess(process_, 137);
    WaitForSingleObject(process_, 10000);
    exited_ = true;
  } else if (c == "cut-file") {
    // cut-file PATH N: drop the last N bytes of a file (a damaged copy).
    arity(s, 2, 2);
    std::vector<uint8_t> b = read_bytes(a[0]);
    size_t n = (size_t)number(a[1]);
    if (n > b.size()) fail(a[0] + " is shorter than " + a[1] + " bytes");
    b.resize(b.size() - n);
    std::ofstream f(a[0], std::ios::binary | std::ios::trunc);
    f.write((const char*)b.data(), (std::streamsize)b.size());
    if (!f) fail("cannot write " + a[0]);
  } else if (c == "append-bytes") {
    arity(s, 2, 2);
    std::ofstream f(a[0], std::ios::binary | std::ios::app);
    for (int i = 0; i < number(a[1]); i++) f.put('\0');
    if (!f) fail("cannot append to " + a[0]);
  } else if (c == "removable-drive") {
    arity(s, 2, 2);
    map_removable_drive(a[0], a[1]);
  } else if (c == "set-text") {
    // set-text ID TEXT: replace a control's text as typing would (the edit
    // field tells its page about the change).
    arity(s, 2, 2);
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(control(button_id(a[0])), WM_SETTEXT, 0, (LPARAM)a[1].c_str(),
                             SMTO_ABORTIFHUNG, 5000, &r))
      fail("control " + a[0] + " does not answer WM_SETTEXT");
  } else if (c == "expect-window") {
    arity(s, 1, 1);
    need_process();
    if (!wait_for([&] { return other_window(a[0]) != NULL; }, timeout_ms))
      fail("no window captioned " + quote(a[0]) + " appeared");
    screenshot("window");
  } else if (c == "expect-no-window") {
    arity(s, 1, 1);
    need_process();
    if (other_window(a[0])) fail("the window captioned " + quote(a[0]) + " is still open");
  } else if (c == "expect-browser") {
    arity(s, 0, 1);
    HWND b = NULL;
    if (!wait_for([&] { return (b = browser()) != NULL; }, timeout_ms))
      fail("no folder browser appeared");
    std::string got;
    if (!a.empty() && !wait_for([&] { return (got = text_of(b)) == a[0]; }, timeout_ms))
      fail("the folder browser is captioned " + quote(got) + ", expected " + quote(a[0]));
    screenshot("browser");
  } else if (c == "expect-browser-text") {
    arity(s, 2, 2);
    int id = button_id(a[0]);
    std::string got;
    if (!wait_for([&] { return (got = text_of(browser_control(id))) == a[1]; }, timeout_ms))
      fail("browser control " + a[0] + " reads " + quote(got) + ", expected " + quote(a[1]));
  } else if (c == "browser-set-text") {
    arity(s, 2, 2);
    DWORD_PTR r = 0;
    SendMessageTimeoutA(browser_control(button_id(a[0])), WM_SETTEXT, 0, (LPARAM)a[1].c_str(),
                        SMTO_ABORTIFHUNG, 5000, &r);
  } else if (c == "browser-open") {
    arity(s, 1, 1);
    double_click_item(browser_control(1121), a[0]);
  } else if (c == "browser-click") {
    arity(s, 1, 1);
    HWND w = browser_control(button_id(a[0]));
    if (!IsWindowVisible(w) || !IsWindowEnabled(w)) fail(a[0] + " cannot be clicked");
    PostMessageA(w, BM_CLICK, 0, 0);
  } else if (c == "expect-no-browser") {
    arity(s, 0, 0);
    if (!wait_for([&] { return browser() == NULL; }, timeout_ms)) fail("the folder browser stayed");
  } else if (c == "set-env") {
    // set-env NAME VALUE: the environment of the processes started afterwards.
    arity(s, 2, 2);
    if (!SetEnvironmentVariableA(a[0].c_str(), a[1].c_str())) fail("cannot set " + a[0]);
  } else if (c == "make-folder") {
    // make-folder PATH: the folder and every missing parent.
    arity(s, 1, 1);
    for (size_t i = 3; i <= a[0].size(); i++)
      if (i == a[0].size() || a[0][i] == '\\') CreateDirectoryA(a[0].substr(0, i).c_str(), NULL);
    if (!(GetFileAttributesA(a[0].c_str()) & FILE_ATTRIBUTE_DIRECTORY) || !file_exists(a[0]))
      fail("cannot create the folder " + a[0]);
  } else if (c == "remove-folder") {
    // remove-folder PATH: the folder with everything in it, if it exists.
    arity(s, 1, 1);
    remove_tree(a[0]);
    if (file_exists(a[0])) fail("cannot remove the folder " + a[0]);
  } else if (c == "set-read-only" || c == "expect-read-only") {
    arity(s, 2, 2);
    DWORD attributes = GetFileAttributesA(a[0].c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) fail("no file " + a[0]);
    bool want = yes_no(a[1]);
    if (c == "set-read-only") {
      SetFileAttributesA(a[0].c_str(), want ? attributes | FILE_ATTRIBUTE_READONLY
                                            : attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
    } else if (((attributes & FILE_ATTRIBUTE_READONLY) != 0) != want) {
      fail(a[0] + (want ? " is not read-only" : " is read-only"));
    }
  } else if (c == "walk") {
    arity(s, 0, 1);
    walk(a.empty() ? 20 : number(a[0]));
  } else if (c == "walk-language") {
    arity(s, 1, 1);
    walk_language_ = number(a[0]);
    if (walk_language_ < 0 || walk_language_ > 5) fail("walk-language takes a block from 0 to 5");
  } else if (c == "walk-folder") {
    arity(s, 1, 1);
    walk_folder_ = a[0];
  } else if (c == "sleep") {
    arity(s, 1, 1);
    Sleep((DWORD)number(a[0]));
  } else {
    fail("unknown step " + quote(c));
  }
}

int Driver::run(const std::vector<Step>& steps) {
  int result = 0;
  for (const Step& s : steps) {
    try {
      log("line %d: %s%s", s.line, s.command.c_str(), s.rest.empty() ? "" : (" " + s.rest).c_str());
      exec(s);
    } catch (const StepFailure& failure) {
      // A step that waited in vain for a window may have waited on a setup
      // that had ended: say so, with its exit code, unless the step did.
      StepFailure f = failure;
      if (process_ && !running() && f.what.find("ended") == std::string::npos)
        f.what += " (" + ended_text() + ")";
      log("FAILED at line %d (%s): %s", s.line, s.command.c_str(), f.what.c_str());
      event({"failed", std::to_string(s.line), s.command, f.what});
      try {
        screenshot("failure");
      } catch (const StepFailure&) {
      }
      result = 1;
      break;
    }
  }
  if (process_ && running()) {
    TerminateProcess(process_, 99);
    if (result == 0) {
      log("FAILED: the setup was still running at the end of the scenario");
      event({"failed", "", "", "the setup was still running at the end"});
      result = 1;
    }
  }
  if (!pages_seen_.empty()) {
    std::string list;
    for (const std::string& p : pages_seen_) list += (list.empty() ? "" : ", ") + p;
    log("pages seen: %s", list.c_str());
  }
  if (cover_) DestroyWindow(cover_);
  for (char letter : mapped_drives_) {
    try {
      define_drive(letter, DRIVE_NO_ROOT_DIR, "");
    } catch (const StepFailure& f) {
      log("%s", f.what.c_str());
    }
  }
  close_process();
  return result;
}

// ---------------------------------------------------------------------------
// Reading the scenario.

std::string expand(const std::string& text, const std::map<std::string, std::string>& vars,
                   int line) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '$' && i + 1 < text.size() && text[i + 1] == '{') {
      size_t end = text.find('}', i);
      if (end == std::string::npos) fail("line " + std::to_string(line) + ": unclosed ${");
      std::string name = text.substr(i + 2, end - i - 2);
      auto it = vars.find(name);
      if (it != vars.end()) {
        out += it->second;
      } else {
        char value[4096];
        DWORD n = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
        if (!n || n >= sizeof value)
          fail("line " + std::to_string(line) + ": unknown variable ${" + name + "}");
        out += value;
      }
      i = end;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> split(const std::string& text, int line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isspace((unsigned char)text[i])) i++;
    if (i >= text.size()) break;
    std::string word;
    if (text[i] == '"') {
      size_t end = text.find('"', i + 1);
      if (end == std::string::npos) fail("line " + std::to_string(line) + ": unclosed quote");
      word = text.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < text.size() && !isspace((unsigned char)text[i])) word += text[i++];
    }
    words.push_back(word);
  }
  return words;
}

std::vector<Step> read_scenario(const std::string& path,
                                const std::map<std::string, std::string>& vars) {
  std::ifstream f(path);
  if (!f) fail("cannot read the scenario " + path);
  std::vector<Step> steps;
  std::string text;
  int line = 0;
  while (std::getline(f, text)) {
    line++;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    text = text.substr(first);
    size_t space = text.find_first_of(" \t");
    Step s;
    s.line = line;
    s.command = text.substr(0, space);
    // Lines for the test script that prepares the scenario, not for the driver.
    if (s.command == "project" || s.command == "project2" || s.command == "build-options" ||
        s.command == "generate" || s.command == "generate-files" || s.command == "small-drive" ||
        s.command == "sign")
      continue;
    if (space != std::string::npos) {
      std::string rest = text.substr(space);
      rest = rest.substr(std::min(rest.size(), rest.find_first_not_of(" \t")));
      s.rest = expand(rest, vars, line);
      s.args = split(s.rest, line);
    }
    steps.push_back(s);
  }
  return steps;
}

std::string temp_folder() {
  char path[MAX_PATH] = "";
  GetTempPathA(sizeof path, path);
  std::string t = path;
  if (!t.empty() && t.back() == '\\') t.pop_back();
  return t;
}

} // namespace

int main(int argc, char** argv) {
  Driver driver;
  std::string scenario;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "%s needs a value\n", arg.c_str());
        exit(2);
      }
      return argv[++i];
    };
    if (arg == "--setup")
      driver.setup = value();
    else if (arg == "--work")
      driver.work = value();
    else if (arg == "--shots")
      driver.shots = value();
    else if (arg == "--events")
      driver.events = value();
    else if (arg[0] != '-')
      scenario = arg;
    else {
      fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (scenario.empty()) {
    fprintf(stderr,
            "usage: pakwiz-e2e-driver [--setup EXE] [--work DIR] [--shots DIR] [--events FILE] "
            "SCENARIO\n");
    return 2;
  }
  if (!driver.shots.empty()) CreateDirectoryA(driver.shots.c_str(), NULL);
  std::map<std::string, std::string> vars = {{"SETUP", driver.setup},
                                             {"WORK", driver.work},
                                             {"SHOTS", driver.shots},
                                             {"TEMP", temp_folder()},
                                             {"PROGRAMS", shell_folder(CSIDL_PROGRAMS)},
                                             {"DESKTOP", shell_folder(CSIDL_DESKTOPDIRECTORY)},
                                             {"DATE", utc_date()}};
  try {
    std::vector<Step> steps = read_scenario(scenario, vars);
    int result = driver.run(steps);
    log(result == 0 ? "scenario passed" : "scenario failed");
    return result;
  } catch (const StepFailure& f) {
    log("FAILED: %s", f.what.c_str());
    return 1;
  }
}
