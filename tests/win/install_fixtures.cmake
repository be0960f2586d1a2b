# Small DLLs that the install tests place and inspect, built beside the Wine
# test program: two with version resources made by windres, and one that
# registers itself (DllRegisterServer counts its calls in the registry).
set(install_fixtures install_version_a install_version_b install_selfreg)
add_library(install_version_a SHARED ${CMAKE_CURRENT_LIST_DIR}/install_fixture.c
                                     ${CMAKE_CURRENT_LIST_DIR}/install_version_a.rc)
add_library(install_version_b SHARED ${CMAKE_CURRENT_LIST_DIR}/install_fixture.c
                                     ${CMAKE_CURRENT_LIST_DIR}/install_version_b.rc)
add_library(install_selfreg SHARED ${CMAKE_CURRENT_LIST_DIR}/install_selfreg.c)
target_link_libraries(install_selfreg PRIVATE advapi32)
foreach(fixture ${install_fixtures})
  set_target_properties(${fixture} PROPERTIES PREFIX "" OUTPUT_NAME pakwiz_${fixture})
  target_link_options(${fixture} PRIVATE -static -static-libgcc)
endforeach()
add_dependencies(pakwiz_win_tests ${install_fixtures})
