// Stand-ins for the follow-up actions that need Windows (shell links, the
// registry, profile files, the uninstall record and earlier installations)
// in the native build, where the driver around them is tested: they do
// nothing there. Their behaviour is tested under Wine.
#ifndef _WIN32
#include "install/install.h"

void remove_previous_installations() {}

void write_uninstall_log(const char*) {}

void keep_earlier_log(const char*) {}

void close_uninstall_log() {}

void create_start_menu_shortcuts() {}

void create_desktop_shortcut(const char*, const char*, const char*) {}

void register_install_folder() {}

void apply_ini_list() {}

void apply_registry_list() {}

#endif
