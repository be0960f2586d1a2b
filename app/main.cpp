// Entry point of the setup program. The program has no C runtime start-up:
// the loader calls setup_entry directly, which gathers what WinMain would
// receive (instance, the arguments behind the program name)
// and ends the process with the run's exit code.
#include <windows.h>

#include "app/app.h"
#include "app/stub_marker.h"
#include "common/state.h"

extern "C" {
// Initialised data: the builder patches `length` in the finished executable.
__attribute__((used)) volatile StubMarker g_stub_marker = {{STUB_MARKER_BYTES}, {0, 0, 0, 0}};
}

uint32_t stub_length_from_marker() {
  return (uint32_t)g_stub_marker.length[0] | ((uint32_t)g_stub_marker.length[1] << 8) |
         ((uint32_t)g_stub_marker.length[2] << 16) | ((uint32_t)g_stub_marker.length[3] << 24);
}

// The stack is only 4-byte aligned when the loader enters a 32-bit program.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void setup_entry() {
  g_app.stub_length = stub_length_from_marker();
  ExitProcess((UINT)setup_main(GetModuleHandleA(NULL), program_arguments(GetCommandLineA())));
}
