# The setup program's folders form one chain of layers, each using only those
# below it:
#
#   common -> decode -> package -> install -> ui -> app
#
# This script reads every #include "folder/..." of those folders and of the
# uninstaller (uninstall/, which may use common, decode, package and install)
# and fails, naming each offending line, when an include points up the chain,
# into the uninstaller, or into any other folder of the project (builder/,
# tests/, ...). resources/ (dialog template IDs) is open to ui and app.
# Includes written without a folder are rejected too, so that every include
# names its layer.
#
#   cmake -DSOURCE_DIR=<source tree> -P cmake/CheckLayering.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayering: SOURCE_DIR is not set")
endif()

set(chain common decode package install ui app)
set(allowed_uninstall common decode package install uninstall)

function(rank_of folder out)
  list(FIND chain "${folder}" r)
  set(${out} ${r} PARENT_SCOPE)
endfunction()

set(violations "")
set(checked 0)
foreach(folder ${chain} uninstall)
  file(GLOB sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp
       ${SOURCE_DIR}/${folder}/*.c)
  rank_of(${folder} own_rank)
  foreach(source ${sources})
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" target "${line}")
      if(NOT target MATCHES "/")
        list(APPEND violations "${shown}: \"${target}\" names no folder")
        continue()
      endif()
      string(REGEX REPLACE "/.*$" "" target_folder "${target}")
      rank_of(${target_folder} target_rank)
      set(ok FALSE)
      if(folder STREQUAL "uninstall")
        list(FIND allowed_uninstall ${target_folder} k)
        if(k GREATER -1)
          set(ok TRUE)
        endif()
      elseif(target_rank GREATER -1 AND NOT target_rank GREATER own_rank)
        set(ok TRUE)
      elseif(target_folder STREQUAL "resources" AND (folder STREQUAL "ui" OR folder STREQUAL "app"))
        set(ok TRUE)
      endif()
      if(NOT ok)
        list(APPEND violations "${shown}: includes \"${target}\" (${folder} may not use ${target_folder})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "CheckLayering: no sources found under ${SOURCE_DIR}")
endif()
if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes that break the layering "
                      "(common -> decode -> package -> install -> ui -> app):\n  ${text}")
endif()
message(STATUS "layering: ${checked} files, every include points down the chain")
