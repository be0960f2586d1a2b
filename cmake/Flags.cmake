# Compiler settings shared by every target.

function(pakwiz_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Sanitizers for the native test build.
function(pakwiz_sanitize target)
  if(PAKWIZ_SANITIZE AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# The setup program is downloaded with every installer: it is built for size,
# without exceptions, RTTI or libstdc++'s runtime support.
set(PAKWIZ_STUB_COMPILE_OPTIONS
    -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-threadsafe-statics
    -fno-ident)
set(PAKWIZ_STUB_LINK_OPTIONS
    -s -Wl,--gc-sections -static-libgcc -static-libstdc++ -Wl,--build-id=none)

# Windows test programs are linked statically: under Wine a missing
# libwinpthread-1.dll makes them exit silently.
function(pakwiz_static_windows target)
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
