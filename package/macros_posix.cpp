// Token values of the folder macros in the native build, where the portable
// expansion is tested: there is no Windows, system or Program Files folder,
// so those tokens stay in the text.
#ifndef _WIN32
#include <time.h>

#include "package/macros.h"

bool macro_folder(int, char* out, uint32_t) {
  out[0] = 0;
  return false;
}

void macro_utc_date(unsigned* year, unsigned* month, unsigned* day) {
  time_t now = time(nullptr);
  struct tm t;
  gmtime_r(&now, &t);
  *year = (unsigned)t.tm_year + 1900;
  *month = (unsigned)t.tm_mon + 1;
  *day = (unsigned)t.tm_mday;
}

#endif
