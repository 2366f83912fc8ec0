// The harness itself: everything else assumes Wine runs with the Chinese
// ANSI code page and that narrow literals reach the program as GBK bytes.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

TEST(Platform, AnsiCodePageIsGbk) {
  EXPECT_EQ(GetACP(), 936u);
}

TEST(Platform, NarrowLiteralsAreGbkBytes) {
  const char text[] = "移动";
  ASSERT_EQ(std::strlen(text), 4u);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 0xD2);
  EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xC6);
  EXPECT_EQ(static_cast<unsigned char>(text[2]), 0xB6);
  EXPECT_EQ(static_cast<unsigned char>(text[3]), 0xAF);

  wchar_t wide[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8), 3);
  EXPECT_EQ(wide[0], L'\u79FB');
  EXPECT_EQ(wide[1], L'\u52A8');
}

TEST(Platform, DisplayIsAvailable) {
  // GUI tests need a real desktop; scripts/test starts Xvfb for it.
  EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
  HWND w = CreateWindowExA(0, "STATIC", "x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(w, nullptr);
  DestroyWindow(w);
}
