# For the uninstaller tests: the uninstaller program itself, and a library
# whose DllUnregisterServer counts its calls in the registry.
add_library(uninstaller_unregister SHARED ${CMAKE_CURRENT_LIST_DIR}/uninstaller_unregister.c)
target_link_libraries(uninstaller_unregister PRIVATE advapi32)
set_target_properties(uninstaller_unregister PROPERTIES PREFIX "" OUTPUT_NAME
                                                        pakwiz_uninstaller_unregister)
target_link_options(uninstaller_unregister PRIVATE -static -static-libgcc)
add_dependencies(pakwiz_win_tests uninstaller_unregister pakwiz_uninstall)
