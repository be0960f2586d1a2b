#include "builder/signing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "builder/ansi.h"
#include "builder/errors.h"
#include "builder/host_files.h"
#include "builder/terminal_text.h"
#include "common/file.h"
#include "common/text.h"
#include "package/certificate.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace pakwiz {

namespace fs = std::filesystem;

namespace {

const char* const SIGNING_TOOL = "osslsigncode";

// Runs the program with `args` (args[0] its name, looked up on the PATH),
// its output and errors going to `log`. Returns its exit code, or -1 when
// it could not be started.
int run_program(const std::vector<std::string>& args, HostFile& log) {
#ifdef _WIN32
  std::string command;
  for (const std::string& a : args) {
    // Quoted for the C runtime's command line parser.
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : a) {
      if (c == '\\') {
        slashes++;
        continue;
      }
      q.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
      slashes = 0;
      q += c;
    }
    q.append(2 * slashes, '\\');
    command += (command.empty() ? "" : " ") + q + "\"";
  }
  HANDLE out = NULL;
  if (!DuplicateHandle(GetCurrentProcess(), (HANDLE)log.native(), GetCurrentProcess(), &out, 0,
                       TRUE, DUPLICATE_SAME_ACCESS))
    return -1;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = si.hStdError = out;
  PROCESS_INFORMATION pi;
  std::vector<char> line(command.begin(), command.end());
  line.push_back(0);
  BOOL started =
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(out);
  if (!started) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return (int)code;
#else
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, log.native(), 1);
  posix_spawn_file_actions_adddup2(&actions, log.native(), 2);
  pid_t pid;
  int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  // posix_spawnp reports a missing program this way on some systems.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

// What the program wrote to `log` (its first 64 KiB), each line made
// printable and indented.
std::string read_text(HostFile& log) {
  std::string t((size_t)std::min<uint64_t>(log.size(), 64 * 1024), '\0');
  if (!t.empty()) log.read_at(0, &t[0], t.size());
  std::string out;
  size_t start = 0;
  while (start < t.size()) {
    size_t end = t.find('\n', start);
    if (end == std::string::npos) end = t.size();
    std::string line = t.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out += "\n  " + printable(line);
    start = end + 1;
  }
  return out;
}

void must_exist(const std::string& path, const char* what) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::u8path(path), ec))
    fail(std::string("cannot sign: the ") + what + " " + printable(path) + " does not exist");
}

} // namespace

void sign_file(const std::string& file, const SignOptions& o, const std::string& description) {
  must_exist(o.certificate, o.key.empty() ? "PKCS#12 file" : "certificate");
  std::vector<std::string> args = {SIGNING_TOOL, "sign"};
  if (o.key.empty()) {
    args.insert(args.end(), {"-pkcs12", o.certificate});
  } else {
    must_exist(o.key, "key");
    args.insert(args.end(), {"-certs", o.certificate, "-key", o.key});
  }
  if (!o.password_file.empty()) {
    must_exist(o.password_file, "password file");
    args.insert(args.end(), {"-readpass", o.password_file});
  }
  args.insert(args.end(), {"-h", "sha256"});
  if (!description.empty()) args.insert(args.end(), {"-n", ansi_to_utf8(description)});
  if (!o.timestamp_url.empty()) args.insert(args.end(), {"-ts", o.timestamp_url});
  // The signed copy goes beside the file under a name made from its own
  // (unpredictable) temporary name; the tool refuses to overwrite a file.
  std::string signed_file = file + ".signed";
  args.insert(args.end(), {"-in", file, "-out", signed_file});

  std::string folder = fs::u8path(file).parent_path().u8string();
  HostFile log = HostFile::create_scratch(folder.empty() ? "." : folder);
  int code = run_program(args, log);
  std::string output = read_text(log);
  if (code != 0) {
    remove_file(signed_file);
    if (code < 0)
      fail(std::string("cannot sign: ") + SIGNING_TOOL +
           " was not found (Debian: apt-get install osslsigncode)");
    fail(std::string("signing failed: ") + SIGNING_TOOL + " exited with " + std::to_string(code) +
         (output.empty() ? "" : ":" + output));
  }
  try {
    rename_over(signed_file, file);
  } catch (const BuildError&) {
    remove_file(signed_file);
    throw;
  }
}

CertificateTable find_certificate_table(const std::string& path, uint64_t archive_end) {
  CertificateTable t;
  FileHandle f = file_open(path.c_str(), FILE_READ);
  if (f == INVALID_FILE) fail(printable(path) + ": cannot open the file: " + std::strerror(errno));
  uint8_t headers[1024];
  uint32_t n = file_read_some(f, headers, sizeof headers);
  uint32_t entry = security_directory_entry(headers, n);
  if (entry) {
    t.offset = read_u32(headers + entry);
    t.size = read_u32(headers + entry + 4);
    t.named = t.offset != 0 || t.size != 0;
    uint32_t length = file_size(f);
    t.behind_archive = t.named && archive_end < length &&
                       certificate_table_follows(f, (uint32_t)archive_end, length);
  }
  file_close(f);
  return t;
}

} // namespace pakwiz
