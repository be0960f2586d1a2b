// Placeholder for the destination page until its own behaviour lands: it runs the
// page template with the common page start and leaves every button to the
// main dialog, so that the wizard can be walked through.
#include "ui/ui.h"

INT_PTR CALLBACK destination_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    page_start(page, 7);
    return TRUE;
  }
  return control_colors(message, wparam);
}
