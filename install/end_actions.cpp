#include "install/install.h"

InstallState g_install = {};

void clear_end_actions() {
  g_install.document = nullptr;
  g_install.program = nullptr;
  g_install.screen_saver = nullptr;
}
