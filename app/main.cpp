// Entry point of the setup program.
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show) {
  g_app.stub_length = stub_length_from_marker();
  return setup_main(instance, command_line, show);
}
