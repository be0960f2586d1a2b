// The run's log: lines assembled in a heap block and written whole, and the
// exit code of an installation.
#include "install/install_log.h"

#include <stdarg.h>

#include "common/file.h"
#include "common/text.h"
#include "package/script.h"

namespace {

FileHandle g_log_file = INVALID_FILE;

} // namespace

int install_exit_code(uint32_t error_code, bool restart_needed) {
  // By message number: 12 no memory, 15 cancelled, 16 and 18 the package
  // cannot be opened or read, 20 disk full, 21 and 31 damaged; the others
  // (17, 19, 22) a file could not be created, written or replaced.
  static const uint8_t CODES[32] = {0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 6, 4, 4, 1,
                                    3, 4, 3, 4, 5, 2, 4, 4, 4, 4, 4, 4, 4, 4, 4, 2};
  if (error_code == 0) return restart_needed ? EXIT_RESTART : EXIT_DONE;
  return error_code < 32 ? CODES[error_code] : (int)EXIT_FILE_FAILED;
}

bool install_log_open(const char* path, const char* program) {
  g_log_file = file_create(path);
  if (g_log_file == INVALID_FILE) return false;
  install_log("log\tstarted", program, nullptr);
  return true;
}

bool install_log_active() {
  return g_log_file != INVALID_FILE;
}

void install_log(const char* head, ...) {
  if (g_log_file == INVALID_FILE) return;
  char line[LOG_LINE_SIZE];
  uint32_t n = 0;
  va_list fields;
  va_start(fields, head);
  // The head holds its own tab; a field's tabs and line breaks would split
  // the record.
  for (const char* f = head; f; f = va_arg(fields, const char*)) {
    if (f != head && n < LOG_LINE_SIZE - 2) line[n++] = '\t';
    for (const char* p = f; *p && n < LOG_LINE_SIZE - 3; p++)
      line[n++] = f != head && (unsigned char)*p < ' ' ? ' ' : *p;
  }
  va_end(fields);
  line[n++] = '\r';
  line[n++] = '\n';
  file_write_exact(g_log_file, line, n);
}

void install_log_close(int exit_code) {
  char number[16];
  format_text(number, sizeof number, "result\t%d", number_arg(exit_code));
  install_log(number, nullptr);
  if (g_log_file != INVALID_FILE) file_close(g_log_file);
  g_log_file = INVALID_FILE;
}
