#include "builder/try_run.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "builder/errors.h"
#include "builder/inspect.h"
#include "builder/package_reader.h"
#include "builder/source_files.h"
#include "builder/terminal_text.h"
#include "builder/try_report.h"
#include "common/package_format.h"

#ifndef _WIN32
#include <fcntl.h>
#include <libdeflate.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifndef PAKWIZ_DEFAULT_DRIVER
#define PAKWIZ_DEFAULT_DRIVER ""
#endif

namespace fs = std::filesystem;

namespace pakwiz {

namespace {

const char* const DRIVER_NAME = "pakwiz-e2e-driver.exe";

bool exists(const std::string& p) {
  std::error_code ec;
  return fs::exists(fs::u8path(p), ec);
}

} // namespace

std::string find_try_driver(const std::string& explicit_path, std::string* tried) {
  std::vector<std::string> places;
  if (!explicit_path.empty()) {
    places.push_back(explicit_path);
  } else {
    std::string self = own_executable_dir();
    if (!self.empty()) {
      places.push_back((fs::u8path(self) / DRIVER_NAME).u8string());
      places.push_back((fs::u8path(self) / ".." / "share" / "pakwiz" / DRIVER_NAME)
                           .lexically_normal()
                           .u8string());
    }
    if (*PAKWIZ_DEFAULT_DRIVER) places.push_back(PAKWIZ_DEFAULT_DRIVER);
  }
  for (const std::string& p : places) {
    if (exists(p)) return p;
    *tried += (tried->empty() ? "" : ", ") + p;
  }
  return "";
}

#ifdef _WIN32

int run_try(const TryOptions&, std::ostream&, std::ostream& err) {
  err << "pakwiz try runs a setup program under Wine on Linux; on Windows, run the setup program "
         "itself (in a virtual machine or Windows Sandbox, to keep this computer as it is)\n";
  return 3;
}

#else

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// "12.3 s" since `start`, for the progress lines.
std::string at(Clock::time_point start) {
  char text[32];
  snprintf(text, sizeof text, "%.1f s", since(start));
  return text;
}

std::string read_all(const std::string& path) {
  std::ifstream f(fs::u8path(path), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string find_in_path(const std::string& name) {
  const char* path = getenv("PATH");
  std::string all = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (size_t at = 0; at <= all.size();) {
    size_t colon = all.find(':', at);
    if (colon == std::string::npos) colon = all.size();
    std::string candidate = all.substr(at, colon - at) + "/" + name;
    if (!all.substr(at, colon - at).empty() && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    at = colon + 1;
  }
  return "";
}

// A Windows path under Wine's Z: drive for a host path.
std::string windows_path(const std::string& host) {
  std::string p = fs::absolute(fs::u8path(host)).lexically_normal().u8string();
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

// Runs a program with extra environment variables, its output (both
// streams) appended to `log` ("" = discarded), and kills it after `timeout`
// seconds. Returns its exit status, 128 + the signal that ended it, or -1
// when it could not be started.
int run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                const std::string& log, int timeout, bool* timed_out = nullptr) {
  if (timed_out) *timed_out = false;
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    int in = open("/dev/null", O_RDONLY);
    int out = log.empty() ? open("/dev/null", O_WRONLY)
                          : open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    setpgid(0, 0); // a group of its own, so that a timeout ends its children too
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  auto start = Clock::now();
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0) return -1;
    if (since(start) > timeout) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      if (timed_out) *timed_out = true;
      break;
    }
    usleep(20000);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// A PNG file of a 24-bit bottom-up BMP (the driver's screenshots of the
// whole screen).
std::string png_of_bmp(const std::string& bmp) {
  auto u32 = [&](size_t at) {
    return (uint32_t)((uint8_t)bmp[at] | (uint8_t)bmp[at + 1] << 8 | (uint8_t)bmp[at + 2] << 16 |
                      (uint32_t)(uint8_t)bmp[at + 3] << 24);
  };
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M' || bmp[28] != 24) return "";
  uint32_t offset = u32(10), width = u32(18), height = u32(22);
  uint32_t stride = (width * 3 + 3) & ~3u;
  if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
      offset + (uint64_t)stride * height > bmp.size())
    return "";
  // Cropped to what is drawn on the empty (black) screen, with a margin.
  auto pixel = [&](uint32_t x, uint32_t y) {
    const char* p = bmp.data() + offset + (size_t)stride * (height - 1 - y) + x * 3;
    return p[0] || p[1] || p[2];
  };
  uint32_t left = width, right = 0, top = height, bottom = 0;
  for (uint32_t y = 0; y < height; y++)
    for (uint32_t x = 0; x < width; x++)
      if (pixel(x, y)) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (left > right) left = 0, right = width - 1, top = 0, bottom = height - 1;
  const uint32_t MARGIN = 8;
  left = left > MARGIN ? left - MARGIN : 0, top = top > MARGIN ? top - MARGIN : 0;
  right = std::min(width - 1, right + MARGIN), bottom = std::min(height - 1, bottom + MARGIN);
  std::string raw;
  raw.reserve((size_t)((right - left + 1) * 3 + 1) * (bottom - top + 1));
  for (uint32_t y = top; y <= bottom; y++) {
    const char* row = bmp.data() + offset + (size_t)stride * (height - 1 - y);
    raw += '\0';
    for (uint32_t x = left; x <= right; x++) {
      raw += row[x * 3 + 2];
      raw += row[x * 3 + 1];
      raw += row[x * 3];
    }
  }
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  if (!c) return "";
  std::string z(libdeflate_zlib_compress_bound(c, raw.size()), '\0');
  size_t n = libdeflate_zlib_compress(c, raw.data(), raw.size(), z.data(), z.size());
  libdeflate_free_compressor(c);
  if (!n) return "";
  z.resize(n);
  std::string png = "\x89PNG\r\n\x1a\n";
  auto be32 = [](std::string* s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) *s += (char)(v >> shift);
  };
  auto chunk = [&](const char* type, const std::string& data) {
    be32(&png, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    png += body;
    be32(&png, libdeflate_crc32(0, body.data(), body.size()));
  };
  std::string header;
  be32(&header, right - left + 1);
  be32(&header, bottom - top + 1);
  header += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
  chunk("IHDR", header);
  chunk("IDAT", z);
  chunk("IEND", "");
  return png;
}

// --- The session: a temporary folder, perhaps an X server, a Wine prefix.

struct Session {
  std::string dir, prefix;
  std::string wine, wineserver;
  std::string display;
  pid_t xvfb = 0;
  bool keep = false;
  std::string template_prefix;    // the cached prefix this one was copied from
  std::vector<LinkedFile> linked; // its files hard-linked into this one

  std::vector<std::string> env() const { return env_of(prefix); }
  std::vector<std::string> env_of(const std::string& wine_prefix) const {
    return {"WINEPREFIX=" + wine_prefix, "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=d", "DISPLAY=" + display};
  }
  // Ends every process of the prefix and waits for its server to be gone:
  // it writes the registry files as it goes, and a program started before
  // it is gone would still meet it.
  void stop_wine() { stop_wine_of(prefix); }
  void stop_wine_of(const std::string& wine_prefix) {
    if (wine_prefix.empty() || !exists(wine_prefix)) return;
    run_program({wineserver, "-k"}, env_of(wine_prefix), "", 30);
    run_program({wineserver, "-w"}, env_of(wine_prefix), "", 30);
  }
  // Waits (up to `seconds`) for the prefix's processes to end by themselves.
  void wait_wine(int seconds) {
    bool timed_out = false;
    run_program({wineserver, "-w"}, env(), "", seconds, &timed_out);
    stop_wine();
  }
  ~Session() {
    stop_wine();
    // A trial that wrote into one of Wine's files in place wrote into the
    // cached prefix too: that one goes, and the next trial makes a new one.
    if (!template_prefix.empty() && linked_files_changed(linked)) {
      std::string doomed = template_prefix + ".old-" + std::to_string(getpid());
      std::error_code ec;
      if (rename(template_prefix.c_str(), doomed.c_str()) == 0)
        fs::remove_all(fs::u8path(doomed), ec);
    }
    if (xvfb > 0) {
      kill(xvfb, SIGTERM);
      waitpid(xvfb, nullptr, 0);
    }
    if (!keep && !dir.empty()) {
      std::error_code ec;
      fs::remove_all(fs::u8path(dir), ec);
    }
  }

  // A private X server on the first free display from :90 on.
  bool start_xvfb(const std::string& xvfb_program, std::string* problem) {
    for (int n = 90 + getpid() % 400, tries = 0; tries < 40; n++, tries++) {
      std::string number = std::to_string(n);
      if (exists("/tmp/.X11-unix/X" + number) || exists("/tmp/.X" + number + "-lock")) continue;
      pid_t pid = fork();
      if (pid < 0) break;
      if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(xvfb_program.c_str(), "Xvfb", (":" + number).c_str(), "-screen", "0", "1024x768x24",
              "-nolisten", "tcp", (char*)nullptr);
        _exit(127);
      }
      for (int i = 0; i < 100; i++) {
        if (exists("/tmp/.X11-unix/X" + number)) {
          xvfb = pid;
          display = ":" + number;
          return true;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) break; // taken meanwhile: try the next
        usleep(50000);
      }
      if (xvfb == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    *problem = "could not start Xvfb on a free display";
    return false;
  }
};

// Reads the prefix: every file and folder of drive C:, the registry files
// and every INI file.
PrefixState read_prefix(const std::string& prefix) {
  PrefixState s;
  fs::path drive = fs::u8path(prefix) / "drive_c";
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(
           drive, fs::directory_options::skip_permission_denied, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::directory_entry& e = *it;
    std::string rel = e.path().lexically_relative(drive).u8string();
    for (char& c : rel)
      if (c == '/') c = '\\';
    std::string path = "C:\\" + rel;
    FileState st;
    struct stat info;
    if (lstat(e.path().c_str(), &info) != 0) continue;
    st.directory = S_ISDIR(info.st_mode);
    st.size = S_ISREG(info.st_mode) ? (uint64_t)info.st_size : 0;
    st.mtime_ns = (int64_t)info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec;
    s.files[path] = st;
    if (S_ISREG(info.st_mode) && info.st_size < (1 << 20) && ends_with(lower(path), ".ini"))
      s.ini[lower(path)] = read_ini(read_all(e.path().u8string()));
  }
  read_registry_file(read_all(prefix + "/system.reg"), "HKLM", &s.registry);
  read_registry_file(read_all(prefix + "/user.reg"), "HKCU", &s.registry);
  return s;
}

std::string host_path(const std::string& prefix, const std::string& windows) {
  std::string rel = windows.substr(3);
  for (char& c : rel)
    if (c == '\\') c = '/';
  return prefix + "/drive_c/" + rel;
}

// The driver's events (one line each, fields separated by tabs) as a phase
// of the report; screenshots go to `shots` in order.
// The screenshots' PNG files are made in the background while the trial
// goes on: `index` into the report's screenshots, the PNG to come.
using PendingShots = std::vector<std::pair<size_t, std::future<std::string>>>;

void read_events(const std::string& events, const std::string& shots_dir, const char* phase_name,
                 Phase* phase, std::vector<Screenshot>* shots, PendingShots* pending) {
  std::istringstream in(read_all(events));
  std::string line, caption;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> f;
    for (size_t at = 0; at <= line.size();) {
      size_t tab = line.find('\t', at);
      if (tab == std::string::npos) tab = line.size();
      std::string field = line.substr(at, tab - at);
      for (size_t k; (k = field.find("\\n")) != std::string::npos;) field.replace(k, 2, " ");
      f.push_back(field);
      at = tab + 1;
    }
    f.resize(std::max<size_t>(f.size(), 4));
    if (f[0] == "page") {
      phase->pages.push_back(f[1]);
      if (f[2] == "finish") phase->finish = true;
      caption = f[1];
    } else if (f[0] == "finish-text") {
      phase->finish_text = f[1];
    } else if (f[0] == "restart") {
      phase->restart_button = f[1];
    } else if (f[0] == "message") {
      phase->messages.push_back("\"" + f[1] + "\" -> " + f[2]);
      caption = "message: " + f[1];
    } else if (f[0] == "exit") {
      phase->exited = true;
      phase->exit_code = atoi(f[1].c_str());
    } else if (f[0] == "failed") {
      if (phase->failure.empty())
        phase->failure = (f[1].empty() ? "" : "line " + f[1] + " (" + f[2] + "): ") + f[3];
    } else if (f[0] == "shot") {
      std::string bmp = shots_dir + "/" + f[1];
      shots->push_back({phase_name, caption.empty() ? f[2] : caption, ""});
      pending->emplace_back(shots->size() - 1, std::async(std::launch::async, [bmp] {
                              return png_of_bmp(read_all(bmp));
                            }));
      caption.clear();
    }
  }
}

// Runs the driver with a step file; the events, screenshots and log go to
// the session's folder under `name`.
void run_driver(Session& s, const std::string& driver, const std::string& setup,
                const std::string& steps, const std::string& name, Phase* phase,
                std::vector<Screenshot>* shots, PendingShots* pending) {
  std::string shots_dir = s.dir + "/shots-" + name, events = s.dir + "/events-" + name + ".txt";
  fs::create_directories(fs::u8path(shots_dir));
  auto start = Clock::now();
  bool timed_out = false;
  int status = run_program({s.wine, driver, "--setup", windows_path(setup), "--work",
                            windows_path(s.dir), "--shots", windows_path(shots_dir), "--events",
                            windows_path(events), windows_path(steps)},
                           s.env(), s.dir + "/driver-" + name + ".log", 900, &timed_out);
  phase->ran = true;
  phase->seconds = since(start);
  read_events(events, shots_dir, name.c_str(), phase, shots, pending);
  if (timed_out && phase->failure.empty())
    phase->failure = "the run took longer than 15 minutes and was stopped";
  else if (status != 0 && phase->failure.empty())
    phase->failure = "the driver ended with status " + std::to_string(status) + " (see " + s.dir +
                     "/driver-" + name + ".log)";
}

// Machine type of a PE file: 0x14c (i386), 0x8664 (x86-64), 0 when it is none.
unsigned pe_machine(const std::string& path) {
  std::ifstream f(fs::u8path(path), std::ios::binary);
  unsigned char head[0x40];
  if (!f.read((char*)head, sizeof head) || head[0] != 'M' || head[1] != 'Z') return 0;
  uint32_t pe = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | (uint32_t)head[0x3F] << 24;
  unsigned char sig[6];
  if (!f.seekg(pe) || !f.read((char*)sig, sizeof sig) || sig[0] != 'P' || sig[1] != 'E') return 0;
  return sig[4] | sig[5] << 8;
}

// Compares the package's files (extracted to `extracted`) with the files the
// installation created or changed.
void compare_with_package(const std::string& setup, std::optional<int> language,
                          const std::string& extracted, const std::string& folder,
                          const std::string& prefix, TryReport* r) {
  PackageInfo info;
  try {
    info = read_package(setup);
    std::ostringstream quiet;
    extract_package(setup, extracted, language, quiet);
  } catch (const std::exception& e) {
    r->package_error = e.what();
    return;
  }
  int block = language ? *language : info.start_language;
  if (block < 0 || (size_t)block >= info.blocks.size() || !info.blocks[(size_t)block].files) return;
  std::string folder_lower = lower(folder);
  if (!folder_lower.empty() && folder_lower.back() != '\\') folder_lower += '\\';
  for (const FileEntryFields& e : *info.blocks[(size_t)block].files) {
    if (e.removal == REMOVAL_NOT_INSTALLED) continue;
    std::string rel = safe_extract_path(e.strings[0], e.destination);
    if (rel.empty()) continue;
    std::string tail = rel, area;
    if (e.destination != DEST_INSTALL_FOLDER) {
      tail = rel.substr(rel.find('/') + 1);
      area = "c:\\windows\\"; // the Windows, system and fonts folders
    }
    for (char& c : tail)
      if (c == '/') c = '\\';
    std::string want = "\\" + lower(tail);
    FileChange* match = nullptr;
    for (FileChange& f : r->changes.files) {
      std::string l = lower(f.path);
      if (!ends_with(l, want) || (!area.empty() && l.compare(0, area.size(), area) != 0)) continue;
      if (!match || (!folder_lower.empty() && l == folder_lower + lower(tail))) match = &f;
    }
    if (!match) {
      r->missing.push_back(tail);
      continue;
    }
    std::string package = read_all(extracted + "/" + rel);
    std::string installed = read_all(host_path(prefix, match->path));
    bool same;
    if (e.flags & ENTRY_UNINSTALLER) {
      // The uninstaller is followed by its uninstall log, whose first
      // header takes the place of the entry's last 8 bytes.
      size_t n = package.size() >= 8 ? package.size() - 8 : 0;
      same = installed.size() >= n && installed.compare(0, n, package, 0, n) == 0;
    } else {
      same = installed == package;
    }
    match->package = same ? "equal" : "different";
    // A patch entry writes its text into the file after installing it: the
    // bytes before the patch's position are still the package's.
    const auto& patches = info.blocks[(size_t)block].patches;
    if (!same && patches) {
      size_t at = std::string::npos;
      for (const PatchEntryFields& p : *patches) {
        if (lower(p.file) != lower(e.strings[0]) &&
            lower(p.file) != lower(tail.substr(tail.rfind('\\') + 1)))
          continue;
        size_t position = (size_t)p.position;
        if (p.position == PATCH_SEARCH) {
          position = package.find(std::string(p.pattern.begin(), p.pattern.end()));
          if (position != std::string::npos) position += p.pattern.size();
        } else if (p.position < 0) {
          continue;
        }
        at = std::min(at, position);
      }
      if (at != std::string::npos && at <= package.size() && installed.size() >= at &&
          installed.compare(0, at, package, 0, at) == 0)
        match->package = "patched";
    }
  }
}

void describe_install(const PrefixState& after, const std::string& prefix, TryReport* r) {
  for (const FileChange& f : r->changes.files) {
    if (!ends_with(lower(f.path), ".lnk")) continue;
    std::string bytes = read_all(host_path(prefix, f.path));
    ShellLink link = read_shell_link(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    r->shortcuts.push_back({f.path, link.ok ? link.target : "(not readable)", link.arguments});
  }
  // The Add/Remove Programs entry: an uninstall key whose UninstallString
  // the installation wrote.
  for (const ValueChange& v : r->changes.values) {
    std::string k = lower(v.key);
    size_t at = k.find("\\microsoft\\windows\\currentversion\\uninstall\\");
    if (at == std::string::npos || lower(v.name) != "uninstallstring") continue;
    if (k.find('\\', at + 44) != std::string::npos) continue;
    r->uninstall_key = v.key;
    auto key = after.registry.find(k);
    if (key != after.registry.end())
      for (const auto& [id, value] : key->second.values)
        r->uninstall_values.push_back(
            {value.first.empty() ? "(default)" : value.first, registry_display(value.second)});
    break;
  }
  if (r->install.exited && r->install.exit_code == 3010) {
    r->restart = true;
    r->restart_reason = "exit code 3010";
  }
  if (!r->install.restart_button.empty()) {
    r->restart = true;
    r->restart_reason += std::string(r->restart_reason.empty() ? "" : "; ") +
                         "the finish page offers \"" + r->install.restart_button + "\"";
  }
  for (const ValueChange& v : r->changes.values)
    if (lower(v.name) == "pendingfilerenameoperations") {
      r->restart = true;
      r->restart_reason += std::string(r->restart_reason.empty() ? "" : "; ") +
                           "files are to be replaced when Windows starts";
    }
  for (const IniChange& e : r->changes.ini)
    if (lower(e.section) == "rename" && ends_with(lower(e.file), "wininit.ini")) {
      r->restart = true;
      r->restart_reason += std::string(r->restart_reason.empty() ? "" : "; ") +
                           "WININIT.INI renames files when Windows starts";
      break;
    }
}

bool write_file(const std::string& path, const std::string& text, std::ostream& err) {
  std::ofstream f(fs::u8path(path), std::ios::binary);
  f << text;
  f.close();
  if (!f) {
    err << "pakwiz: cannot write " << printable(path) << "\n";
    return false;
  }
  return true;
}

// --- The prefix. Making one (wineboot) takes most of a trial's time, so
// the first trial keeps a pristine prefix in the cache folder, one for each
// Wine installation, and every trial copies it: Wine's own programs and
// libraries (600 MB that nothing in a trial writes to) as hard links, the
// rest (registry files, INI files, folders) as copies.

// Makes a prefix at `dir` with wineboot; its users' shell folders (Desktop,
// Documents, ...) are made folders of the prefix instead of links to this
// user's home, and Wine draws window frames itself (Xvfb has no window
// manager).
bool boot_prefix(Session& s, const std::string& dir, const std::string& log, std::string* problem) {
  std::error_code ec;
  fs::create_directories(fs::u8path(dir), ec);
  int boot = run_program({s.wine, "wineboot"}, s.env_of(dir), log, 300);
  s.stop_wine_of(dir);
  if (boot != 0 || !exists(dir + "/system.reg")) {
    *problem = "wineboot ended with " + std::to_string(boot);
    return false;
  }
  for (auto& user : fs::directory_iterator(fs::u8path(dir) / "drive_c" / "users", ec))
    for (auto& folder : fs::directory_iterator(user.path(), ec))
      if (folder.is_symlink()) {
        fs::path p = folder.path();
        fs::remove(p, ec);
        fs::create_directory(p, ec);
      }
  std::ofstream user_reg(fs::u8path(dir) / "user.reg", std::ios::app);
  user_reg << "\n[Software\\\\Wine\\\\X11 Driver] 0\n\"Decorated\"=\"N\"\n";
  user_reg.close();
  if (!user_reg) {
    *problem = "cannot write " + dir + "/user.reg";
    return false;
  }
  return true;
}

// The pristine prefix in the cache folder ($XDG_CACHE_HOME/pakwiz, else
// ~/.cache/pakwiz) for this Wine, made now when there is none; "" when it
// cannot be had (the trial then makes its own prefix).
std::string cached_prefix(Session& s, std::ostream& err) {
  const char* xdg = getenv("XDG_CACHE_HOME");
  const char* home = getenv("HOME");
  std::string cache = xdg && *xdg     ? std::string(xdg) + "/pakwiz"
                      : home && *home ? std::string(home) + "/.cache/pakwiz"
                                      : "";
  if (cache.empty()) return "";
  // One prefix for each Wine installation (the loader's path, size and
  // time) and each way of preparing it (the number in front).
  struct stat info;
  std::error_code ec;
  std::string loader = fs::canonical(fs::u8path(s.wine), ec).u8string();
  if (ec || stat(loader.c_str(), &info) != 0) return "";
  uint64_t hash = 1469598103934665603ull;
  std::string key = "1|" + loader + "|" + std::to_string(info.st_size) + "|" +
                    std::to_string((int64_t)info.st_mtim.tv_sec);
  for (char c : key) hash = (hash ^ (uint8_t)c) * 1099511628211ull;
  char name[40];
  snprintf(name, sizeof name, "wine-prefix-%016llx", (unsigned long long)hash);
  std::string ready = cache + "/" + name;
  remove_abandoned_prefixes(ready, 3600);
  if (exists(ready + "/system.reg")) return ready;

  // Made under another name and renamed when complete, so that a trial
  // running at the same time never copies half a prefix.
  fs::create_directories(fs::u8path(cache), ec);
  std::string pattern = ready + ".new-XXXXXX";
  std::vector<char> made(pattern.begin(), pattern.end());
  made.push_back(0);
  if (!mkdtemp(made.data())) return "";
  std::string fresh = made.data();
  err << "pakwiz try: making the Wine prefix that later trials copy, in " << printable(ready)
      << " (once)\n";
  std::string problem;
  bool ok = boot_prefix(s, fresh, s.dir + "/wineboot.log", &problem);
  if (ok && rename(fresh.c_str(), ready.c_str()) == 0) return ready;
  fs::remove_all(fs::u8path(fresh), ec);
  return ok && exists(ready + "/system.reg") ? ready : "";
}

} // namespace

int remove_abandoned_prefixes(const std::string& ready, int64_t max_age_seconds) {
  fs::path path = fs::u8path(ready);
  std::string stem = path.filename().u8string() + ".new-";
  std::error_code ec;
  int removed = 0;
  time_t now = time(nullptr);
  for (auto it = fs::directory_iterator(path.parent_path(), ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().u8string();
    struct stat info;
    if (name.compare(0, stem.size(), stem) != 0 || lstat(it->path().c_str(), &info) != 0 ||
        !S_ISDIR(info.st_mode) || now - info.st_mtime < max_age_seconds)
      continue;
    std::error_code failed;
    fs::remove_all(it->path(), failed);
    if (!failed) removed++;
  }
  return removed;
}

// Files that Wine installs as copies of its own programs and libraries.
static bool linkable(const fs::path& p) {
  static const char* const kinds[] = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm",
                                      ".tlb", ".ax",  ".ds",  ".nls", ".com", ".mui"};
  std::string ext = lower(p.extension().u8string());
  for (const char* k : kinds)
    if (ext == k) return true;
  return false;
}

// Copies the prefix `from` to `to`; the hard-linked files go to `linked`
// with the size and time they had.
bool copy_prefix(const std::string& from, const std::string& to, std::vector<LinkedFile>* linked) {
  std::error_code ec;
  fs::path source = fs::u8path(from), target = fs::u8path(to);
  if (!fs::create_directories(target, ec) && ec) return false;
  for (auto it = fs::recursive_directory_iterator(source, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    fs::path copy = target / p.lexically_relative(source);
    struct stat info;
    if (lstat(p.c_str(), &info) != 0) return false;
    if (S_ISLNK(info.st_mode)) {
      fs::copy_symlink(p, copy, ec);
    } else if (S_ISDIR(info.st_mode)) {
      fs::create_directory(copy, ec);
    } else if (S_ISREG(info.st_mode)) {
      if (linkable(p) && link(p.c_str(), copy.c_str()) == 0) {
        linked->push_back({p.u8string(), (uint64_t)info.st_size,
                           (int64_t)info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec});
        continue;
      }
      fs::copy_file(p, copy, ec);
    }
    if (ec) return false;
  }
  return !ec;
}

bool linked_files_changed(const std::vector<LinkedFile>& linked) {
  for (const LinkedFile& f : linked) {
    struct stat info;
    if (lstat(f.path.c_str(), &info) != 0 || (uint64_t)info.st_size != f.size ||
        (int64_t)info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec != f.mtime_ns)
      return true;
  }
  return false;
}

int run_try(const TryOptions& o, std::ostream& out, std::ostream& err) {
  auto start = Clock::now();
  if (!exists(o.setup)) {
    err << "pakwiz: no setup file " << printable(o.setup) << "\n";
    return 3;
  }
  if (!o.steps.empty() && !exists(o.steps)) {
    err << "pakwiz: no step file " << printable(o.steps) << "\n";
    return 3;
  }
  Session s;
  s.keep = o.keep;
  s.wine = exists("/usr/lib/wine/wine64") ? "/usr/lib/wine/wine64" : find_in_path("wine64");
  if (s.wine.empty()) s.wine = find_in_path("wine");
  // Wine counts as installed when its server is on the PATH (Debian puts the
  // 64-bit loader beside it in /usr/lib/wine).
  s.wineserver = find_in_path("wineserver");
  if (s.wine.empty() || s.wineserver.empty()) {
    err << "pakwiz try needs Wine to run the setup program, and it is not installed: on Debian, "
           "apt-get install wine wine64\n";
    return 3;
  }
  if (pe_machine(o.setup) == 0x14c && !exists("/usr/lib/wine/wine") &&
      find_in_path("wine32").empty() && !exists("/usr/lib/i386-linux-gnu/wine")) {
    err << "pakwiz: " << printable(o.setup)
        << " is a 32-bit program, and this Wine runs 64-bit programs only: on Debian, "
           "dpkg --add-architecture i386 && apt-get update && apt-get install wine32\n";
    return 3;
  }
  const char* display = getenv("DISPLAY");
  std::string xvfb = find_in_path("Xvfb");
  if ((!display || !*display) && xvfb.empty()) {
    err << "pakwiz try needs an X display for the wizard: there is none (DISPLAY is not set) and "
           "Xvfb is not installed: on Debian, apt-get install xvfb\n";
    return 3;
  }
  std::string tried, driver = find_try_driver(o.driver, &tried);
  if (driver.empty()) {
    err << "pakwiz: the driver program " << DRIVER_NAME << " was not found; looked at " << tried
        << "; name it with --driver FILE\n";
    return 3;
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pakwiz-try.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  if (!mkdtemp(name.data())) {
    err << "pakwiz: cannot make a temporary folder from " << printable(pattern) << "\n";
    return 3;
  }
  s.dir = name.data();
  s.prefix = s.dir + "/prefix";
  std::string setup = fs::absolute(fs::u8path(o.setup)).u8string();
  std::string problem;
  if (display && *display) {
    s.display = display;
  } else if (!s.start_xvfb(xvfb, &problem)) {
    err << "pakwiz: " << problem << "\n";
    return 3;
  }

  TryReport r;
  r.setup = o.setup;
  r.allow_leftovers = o.allow_leftovers;
  r.quiet = o.quiet;
  if (o.language) r.language = std::to_string(*o.language);
  r.folder = o.folder;

  // A fresh prefix, copied from the pristine one kept in the cache folder
  // (made by wineboot on the first run), or made here by wineboot.
  err << "pakwiz try: making a Wine prefix in " << printable(s.dir) << "\n";
  auto prefix_start = Clock::now();
  std::string cached = o.no_prefix_cache ? "" : cached_prefix(s, err);
  if (!cached.empty() && copy_prefix(cached, s.prefix, &s.linked)) {
    s.template_prefix = cached;
    r.prefix_note = "copied from " + cached;
  } else {
    std::error_code ec;
    fs::remove_all(fs::u8path(s.prefix), ec);
    s.linked.clear();
    if (!boot_prefix(s, s.prefix, s.dir + "/wineboot.log", &problem)) {
      err << "pakwiz: Wine could not make a prefix (" << problem << "; see " << printable(s.dir)
          << "/wineboot.log)\n";
      s.keep = true;
      return 3;
    }
    r.prefix_note = "made by wineboot";
  }
  r.prefix_seconds = since(prefix_start);
  PrefixState before = read_prefix(s.prefix);

  PendingShots pending;
  // Install: the default walk, or the user's steps, with the walk's choices.
  std::string choices;
  if (o.language) choices += "walk-language " + std::to_string(*o.language) + "\n";
  if (!o.folder.empty()) choices += "walk-folder \"" + o.folder + "\"\n";
  std::string steps = s.dir + "/install.steps";
  std::string body = o.steps.empty() ? "start\nwalk 40\n" : read_all(o.steps);
  if (o.quiet) {
    // Unattended: the choices as switches (/D= takes the rest of the line).
    choices.clear();
    body = "start /Q";
    if (o.language) body += " /L=" + std::to_string(*o.language);
    if (!o.folder.empty()) body += " /D=" + o.folder;
    body += "\nwait-exit-without-window 900\n";
  }
  if (!write_file(steps, choices + body, err)) return 3;
  err << "pakwiz try: installing (at " << at(start) << ")\n";
  run_driver(s, driver, setup, steps, "install", &r.install, &r.shots, &pending);
  s.stop_wine();
  PrefixState installed = read_prefix(s.prefix);
  r.changes = compare_states(before, installed);
  std::string folder = o.folder;
  {
    std::istringstream ev(read_all(s.dir + "/events-install.txt"));
    std::string line;
    while (std::getline(ev, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.compare(0, 7, "folder\t") == 0) folder = line.substr(7);
    }
  }
  compare_with_package(setup, o.language, s.dir + "/package", folder, s.prefix, &r);
  describe_install(installed, s.prefix, &r);

  // Uninstall through the registered command line, answering Yes and OK.
  if (!r.uninstall_key.empty()) {
    err << "pakwiz try: uninstalling (at " << at(start) << ")\n";
    std::string uninstall_steps = s.dir + "/uninstall.steps";
    if (!write_file(uninstall_steps,
                    "start-registered \"" + r.uninstall_key + "\" UninstallString" +
                        (o.quiet ? " /Q\nwait-exit-without-window 300\n" : "\nwalk 20\n"),
                    err))
      return 3;
    run_driver(s, driver, setup, uninstall_steps, "uninstall", &r.uninstall, &r.shots, &pending);
    s.wait_wine(30); // the uninstaller's helper copy removes its file after it ended
  }
  PrefixState after = read_prefix(s.prefix);
  r.leftovers = find_leftovers(r.changes, before, after);
  for (auto& [index, png] : pending) r.shots[index].png = png.get();
  r.shots.erase(std::remove_if(r.shots.begin(), r.shots.end(),
                               [](const Screenshot& shot) { return shot.png.empty(); }),
                r.shots.end());
  r.total_seconds = since(start);
  judge(&r);

  bool written = true;
  if (!o.json.empty()) {
    std::ostringstream j;
    write_json_report(r, j);
    written = write_file(o.json, j.str(), err) && written;
  }
  if (!o.html.empty()) {
    std::ostringstream h;
    write_html_report(r, h);
    written = write_file(o.html, h.str(), err) && written;
  }
  if (o.keep)
    err << "pakwiz try: kept the prefix, screenshots and logs in " << printable(s.dir) << "\n";
  write_text_report(r, out);
  if (!written) return 3;
  return r.passed ? 0 : 1;
}

#endif

} // namespace pakwiz
