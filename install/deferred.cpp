// Install actions that the driver already calls at their place but that later
// changes provide. Each does nothing for now; a change that builds one removes
// it from this file.
#include "install/install.h"

// Not built yet: earlier installations are removed by a later change.
void remove_previous_installations() {}
// Not built yet: the uninstall log is written by a later change.
void write_uninstall_log(const char*) {}
// Not built yet: the Start-menu shortcuts are made by a later change.
void create_start_menu_shortcuts() {}
// Not built yet: the desktop shortcut is made by a later change.
void create_desktop_shortcut(const char*, const char*, const char*) {}
// Not built yet: the install folder is registered by a later change.
void register_install_folder() {}
// Not built yet: the INI entry list is applied by a later change.
void apply_ini_list() {}
// Not built yet: the registry entry list is applied by a later change.
void apply_registry_list() {}
// Not built yet: the file patch list is applied by a later change.
void apply_patch_list() {}
