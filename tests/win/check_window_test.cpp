// The start-up check's window: nothing while the check is young (so a
// small package never flashes a window); once the check has run half a
// second, a window whose bar is filled as far as the check has come; it
// stays at the end of the check until it is closed.
#include <gtest/gtest.h>
#include <windows.h>

#include "package/package.h"
#include "ui/ui.h"

TEST(CheckWindow, ShowsOnlyForACheckThatTakesAWhileAndStaysUntilClosed) {
  const uint32_t total = 64u << 20;
  observe_check(0, total);
  observe_check(CHECK_SLICE, total);
  EXPECT_EQ(check_window(), nullptr);
  Sleep(600);
  observe_check(total / 4, total);
  HWND window = check_window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));

  // A quarter of the bar across the client area is filled, the rest not;
  // then nearly all of it.
  RECT client;
  GetClientRect(window, &client);
  HDC dc = GetDC(window);
  const int y = client.bottom / 2;
  const COLORREF filled = GetPixel(dc, client.right / 8, y);
  EXPECT_NE(GetPixel(dc, client.right / 2, y), filled);
  observe_check(total - CHECK_SLICE, total);
  EXPECT_EQ(GetPixel(dc, client.right / 2, y), filled);
  EXPECT_NE(GetPixel(dc, client.right / 2, 2), filled); // above the bar
  ReleaseDC(window, dc);

  // The end of the check leaves it to the wizard's frame to take over.
  observe_check(total, total);
  EXPECT_EQ(check_window(), window);
  close_check_window();
  EXPECT_EQ(check_window(), nullptr);
  EXPECT_FALSE(IsWindow(window));
}
