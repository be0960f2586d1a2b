# `cmake --install`: pakwiz and the Windows programs it builds with or runs,
# laid out so that pakwiz finds them relative to itself wherever the tree is
# installed or unpacked:
#
#   bin/pakwiz                              the builder (pakwiz.exe in the Windows zip)
#   share/pakwiz/pakwiz-stub.exe            the release setup program (i686), the default
#   share/pakwiz/pakwiz-uninstall.exe       the release uninstaller (i686), the default
#   share/pakwiz/pakwiz-stub-x86_64.exe     the x86_64 setup program and uninstaller
#   share/pakwiz/pakwiz-uninstall-x86_64.exe  (--stub/--uninstaller; they run under a 64-bit Wine)
#   share/pakwiz/pakwiz-e2e-driver.exe      the wizard driver of `pakwiz try`
#   share/doc/pakwiz/                       README, docs, the step language, examples/
#
# The Windows programs come from the win32 and win64 build trees, whatever
# tree is being installed.
if(PAKWIZ_FUZZ)
  return()
endif()
set(PAKWIZ_WIN32_BIN "${CMAKE_SOURCE_DIR}/build/win32/bin" CACHE PATH
    "The win32 tree's programs, installed beside pakwiz")
set(PAKWIZ_WIN64_BIN "${CMAKE_SOURCE_DIR}/build/win64/bin" CACHE PATH
    "The win64 tree's programs, installed beside pakwiz")

install(TARGETS pakwiz RUNTIME DESTINATION bin)
install(FILES ${PAKWIZ_WIN32_BIN}/pakwiz-stub.exe ${PAKWIZ_WIN32_BIN}/pakwiz-uninstall.exe
              ${PAKWIZ_WIN64_BIN}/pakwiz-e2e-driver.exe DESTINATION share/pakwiz)
install(FILES ${PAKWIZ_WIN64_BIN}/pakwiz-stub.exe DESTINATION share/pakwiz
        RENAME pakwiz-stub-x86_64.exe)
install(FILES ${PAKWIZ_WIN64_BIN}/pakwiz-uninstall.exe DESTINATION share/pakwiz
        RENAME pakwiz-uninstall-x86_64.exe)
install(FILES README.md docs/try.md docs/project-file.md docs/uninstall-log.md
              docs/ARCHITECTURE.md DESTINATION share/doc/pakwiz)
# The README shows this picture from docs/.
install(FILES docs/try-report.png DESTINATION share/doc/pakwiz/docs)
install(FILES tests/e2e/README.md DESTINATION share/doc/pakwiz RENAME step-language.md)
install(DIRECTORY examples DESTINATION share/doc/pakwiz)
