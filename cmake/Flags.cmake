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

# The setup program is downloaded with every installer: it is built for size
# (-Oz; no frame pointer, which the 32-bit compiler keeps by default), without
# exceptions, RTTI or libstdc++'s runtime support. No -fdata-sections:
# with it this compiler puts zero-initialised globals into initialised data,
# which costs file bytes, while it removes no unused data here.
set(PAKWIZ_STUB_COMPILE_OPTIONS
    -Oz -fomit-frame-pointer -fno-exceptions -fno-rtti -ffunction-sections
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-threadsafe-statics
    -fno-ident)
# It has no C runtime start-up: the loader enters setup_entry (app/main.cpp).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(PAKWIZ_STUB_ENTRY _setup_entry) # 32-bit C names carry a leading underscore
  set(PAKWIZ_STUB_SCRIPT stub-i686.ld) # the whole layout, with merged sections
  # Windows keeps the stack 4-byte aligned; the default 16 costs an
  # adjustment around calls. Functions that need more align it themselves.
  list(APPEND PAKWIZ_STUB_COMPILE_OPTIONS -mpreferred-stack-boundary=2)
  # The setup program pushes call arguments (one byte an instruction)
  # instead of storing them into room reserved below the frame (four bytes
  # and more): a seventh of its code. This compiler stores them whenever it
  # may probe the stack, which it does only for a frame of 4,000 bytes or
  # more (whose first touch could step past the guard page), so probing is
  # off and such a frame, or stack memory of a size known only at run time,
  # fails the build: a large buffer belongs on the heap. The uninstaller,
  # which has such a frame, keeps the default.
  set(PAKWIZ_SETUP_ARGUMENT_OPTIONS -mno-accumulate-outgoing-args -mno-stack-arg-probe
                                    -Werror=frame-larger-than=3900 -Werror=vla -Werror=alloca)
else()
  set(PAKWIZ_STUB_ENTRY setup_entry)
  set(PAKWIZ_STUB_SCRIPT stub-sections.ld) # additions to the default layout
endif()
set(PAKWIZ_SETUP_COMPILE_OPTIONS ${PAKWIZ_STUB_COMPILE_OPTIONS} ${PAKWIZ_SETUP_ARGUMENT_OPTIONS})
# Shared with the uninstaller, which keeps the runtime's start-up.
set(PAKWIZ_STUB_LINK_OPTIONS
    -s -Wl,--gc-sections -static-libgcc -static-libstdc++ -Wl,--build-id=none)
# The setup program alone.
set(PAKWIZ_SETUP_LINK_OPTIONS
    ${PAKWIZ_STUB_LINK_OPTIONS} -nostartfiles -Wl,-e,${PAKWIZ_STUB_ENTRY}
    -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/${PAKWIZ_STUB_SCRIPT})

# Windows test programs are linked statically: under Wine a missing
# libwinpthread-1.dll makes them exit silently.
function(pakwiz_static_windows target)
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
