// The Windows main-thread seam with a real window and message loop: work posted from another
// thread runs in the window procedure, in order, and is refused before the window is attached
// and once it is being destroyed.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "platform/win32/main_thread.h"

namespace {

using platform::win32::Win32MainThread;

Win32MainThread* g_main_thread = nullptr;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == platform::win32::kRunPostedWorkMessage) {
    g_main_thread->RunPosted();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(Win32MainThread, RunsPostedWorkInTheWindowProcedureInOrder) {
  Win32MainThread main_thread;
  g_main_thread = &main_thread;
  EXPECT_FALSE(main_thread.Post([] {})) << "no window yet";
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = TestWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"QuellmarkMainThreadTest";
  RegisterClassW(&window_class);
  const HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                                      HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  main_thread.Attach(window);

  const DWORD window_thread = GetCurrentThreadId();
  std::vector<int> ran;
  bool all_on_window_thread = true;
  std::thread poster([&] {
    for (int i = 0; i < 200; ++i) {
      EXPECT_TRUE(main_thread.Post([&, i] {
        ran.push_back(i);
        all_on_window_thread = all_on_window_thread && GetCurrentThreadId() == window_thread;
      }));
    }
    main_thread.Post([] { PostQuitMessage(0); });
  });
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
  poster.join();
  ASSERT_EQ(ran.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ran[i], i);
  EXPECT_TRUE(all_on_window_thread);

  main_thread.Close();
  EXPECT_FALSE(main_thread.Post([] {})) << "the window is being destroyed";
  DestroyWindow(window);
  UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
}

}  // namespace
