// The Windows main-thread seam with a real window and message loop.
#include <gtest/gtest.h>

#include <windows.h>

#include <numeric>
#include <thread>
#include <vector>

#include "platform/win32/main_thread.h"

namespace {

using platform::win32::Win32MainThread;

Win32MainThread g_main_thread;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != platform::win32::kRunPostedWorkMessage) return DefWindowProcW(window, message, wparam, lparam);
  g_main_thread.RunPosted();
  return 0;
}

// Posted work runs in the window procedure, in order; refused before Attach and after Close.
TEST(Win32MainThread, RunsPostedWorkInTheWindowProcedureInOrder) {
  EXPECT_FALSE(g_main_thread.Post([] {}));
  const WNDCLASSW window_class{.lpfnWndProc = WindowProc, .lpszClassName = L"QuellmarkMainThreadTest"};
  RegisterClassW(&window_class);
  const HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                                      HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  g_main_thread.Attach(window);

  const DWORD window_thread = GetCurrentThreadId();
  std::vector<int> ran, expected(200);
  std::iota(expected.begin(), expected.end(), 0);
  std::thread poster([&] {
    for (const int i : expected)  // records a thread other than the window's as -1
      EXPECT_TRUE(g_main_thread.Post([&, i] { ran.push_back(GetCurrentThreadId() == window_thread ? i : -1); }));
    g_main_thread.Post([] { PostQuitMessage(0); });
  });
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
  poster.join();
  EXPECT_EQ(ran, expected);

  g_main_thread.Close();
  EXPECT_FALSE(g_main_thread.Post([] {}));
  DestroyWindow(window);
}

}  // namespace
