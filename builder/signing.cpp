#include "builder/signing.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "builder/ansi.h"
#include "builder/errors.h"
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
int run_program(const std::vector<std::string>& args, const std::string& log) {
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
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return -1;
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
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
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

std::string read_text(const std::string& path) {
  std::ifstream f(fs::u8path(path), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  std::string t = s.str();
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t;
}

void must_exist(const std::string& path, const char* what) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::u8path(path), ec))
    fail(std::string("cannot sign: the ") + what + " " + path + " does not exist");
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
  std::string signed_file = file + ".signed", log = file + ".sign-log";
  args.insert(args.end(), {"-in", file, "-out", signed_file});

  int code = run_program(args, log);
  std::string output = read_text(log);
  std::error_code ec;
  fs::remove(fs::u8path(log), ec);
  if (code != 0) {
    fs::remove(fs::u8path(signed_file), ec);
    if (code < 0)
      fail(std::string("cannot sign: ") + SIGNING_TOOL +
           " was not found (Debian: apt-get install osslsigncode)");
    fail(std::string("signing failed: ") + SIGNING_TOOL + " exited with " + std::to_string(code) +
         (output.empty() ? "" : ":\n" + output));
  }
  fs::rename(fs::u8path(signed_file), fs::u8path(file), ec);
  if (ec) {
    fs::remove(fs::u8path(signed_file), ec);
    fail("cannot rename the signed file over " + file + ": " + ec.message());
  }
}

CertificateTable find_certificate_table(const std::string& path, uint64_t archive_end) {
  CertificateTable t;
  FileHandle f = file_open(path.c_str(), FILE_READ);
  if (f == INVALID_FILE) fail(path + ": cannot open the file");
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
