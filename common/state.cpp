#include "common/state.h"
#include "common/heap.h"

AppState g_app = {};

void app_free_buffers() {
  free_and_clear(g_app.package_path);
  free_and_clear(g_app.archive_path);
  free_and_clear(g_app.install_folder);
  free_and_clear(g_app.destination_path);
  free_and_clear(g_app.temp_path);
  free_and_clear(g_app.error_file_name);
  free_and_clear(g_app.uninstaller_path);
}

bool app_alloc_buffers() {
  g_app.package_path = (char*)heap_alloc(PATH_SIZE, true);
  g_app.archive_path = (char*)heap_alloc(PATH_SIZE, true);
  g_app.install_folder = (char*)heap_alloc(PATH_SIZE, true);
  g_app.destination_path = (char*)heap_alloc(DESTINATION_SIZE, true);
  g_app.temp_path = (char*)heap_alloc(PATH_SIZE, true);
  g_app.error_file_name = (char*)heap_alloc(PATH_SIZE, true);
  g_app.uninstaller_path = (char*)heap_alloc(PATH_SIZE, true);
  if (g_app.package_path && g_app.archive_path && g_app.install_folder && g_app.destination_path &&
      g_app.temp_path && g_app.error_file_name && g_app.uninstaller_path)
    return true;
  app_free_buffers();
  return false;
}
