# A stand-in uninstaller for the tests that run earlier installations'
# uninstallers: it records the command line it was started with.
add_executable(uninstall_record_args ${CMAKE_CURRENT_LIST_DIR}/uninstall_record_args.c)
set_target_properties(uninstall_record_args PROPERTIES OUTPUT_NAME pakwiz_record_args)
target_link_options(uninstall_record_args PRIVATE -static -static-libgcc)
add_dependencies(pakwiz_win_tests uninstall_record_args)
