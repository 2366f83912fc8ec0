// The about box, run modally on its real resource and answered by a hook.
#include <windows.h>

#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "keyfold/res/resource.h"
#include "keyfold/shell/AboutBox.h"
#include "support/gui_harness.h"

namespace {

// A place in dialog units as the dialog maps it to pixels.
RECT Pixels(const kftest::CaughtDialog& d, int x, int y, int cx, int cy) {
  const LONG left = MulDiv(x, d.baseUnitX, 4), top = MulDiv(y, d.baseUnitY, 8);
  return RECT{left, top, left + MulDiv(cx, d.baseUnitX, 4), top + MulDiv(cy, d.baseUnitY, 8)};
}

TEST(AboutBox, ShowsCaptionTextsIconAndButtonInPlace) {
  kftest::DialogCatcher catcher(kftest::Answer::PressButton(IDOK), "about_box");
  CAboutBox box;
  EXPECT_EQ(box.DoModal(), IDOK);
  ASSERT_EQ(catcher.Caught().size(), 1u);
  const kftest::CaughtDialog& d = catcher.Caught()[0];
  EXPECT_FALSE(d.forced);
  EXPECT_EQ(d.caption, "关于 移动证书管理工具");
  EXPECT_EQ(d.defaultId, IDOK);
  ASSERT_EQ(d.controls.size(), 4u);
  ASSERT_GT(d.baseUnitX, 0);

  struct Expected {
    const char* className;
    int id;
    const char* text;  // null: not compared (the icon, the rights line)
    RECT place;
  } expected[] = {
      {"Static", IDC_STATIC, nullptr, Pixels(d, 14, 15, 20, 20)},
      {"Static", IDC_STATIC, "移动证书管理工具 1.4 版", Pixels(d, 48, 13, 119, 8)},
      {"Static", IDC_STATIC, nullptr, Pixels(d, 46, 29, 119, 8)},
      {"Button", IDOK, "确定", Pixels(d, 178, 7, 50, 14)},
  };
  for (size_t i = 0; i < 4; ++i) {
    const kftest::CaughtControl& c = d.controls[i];
    const Expected& e = expected[i];
    EXPECT_EQ(c.className, e.className) << i;
    EXPECT_EQ(static_cast<short>(c.id), e.id) << i;
    if (e.text) {
      EXPECT_EQ(c.text, e.text) << i;
    }
    if (i != 0) {  // an icon control sizes itself to its icon
      EXPECT_EQ(c.rect.left, e.place.left) << i;
      EXPECT_EQ(c.rect.top, e.place.top) << i;
      EXPECT_EQ(c.rect.right, e.place.right) << i;
      EXPECT_EQ(c.rect.bottom, e.place.bottom) << i;
    } else {
      EXPECT_EQ(c.rect.left, e.place.left);
      EXPECT_EQ(c.rect.top, e.place.top);
    }
  }
  EXPECT_EQ(d.controls[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
  EXPECT_FALSE(d.controls[2].text.empty());
  EXPECT_EQ(d.controls[3].style & 0x0F, static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_FALSE(d.screenshot.empty());
  RecordProperty("screenshot", d.screenshot);
}

// The template as the program carries it: what the dialog manager and the
// icon control would otherwise hide (an icon control resizes itself to
// its icon, the font is mapped to whatever is installed).
TEST(AboutBox, TemplateHasItsStyleFontSizeAndControlPlaces) {
  kftest::DialogTemplate t;
  ASSERT_TRUE(kftest::ReadDialogTemplate(IDD_ABOUTBOX, t));
  EXPECT_EQ(t.style, static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION |
                                        WS_SYSMENU));
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.cx, 235);
  EXPECT_EQ(t.cy, 55);
  EXPECT_EQ(t.menu, "");
  EXPECT_EQ(t.className, "");
  EXPECT_EQ(t.caption, "关于 移动证书管理工具");
  EXPECT_EQ(t.pointSize, 9);
  EXPECT_EQ(t.fontName, "宋体");

  struct Expected {
    const char* className;
    int id;
    const char* text;  // null: not compared (the rights line)
    DWORD style;       // the type bits that must be there
    short x, y, cx, cy;
  } expected[] = {
      {"Static", IDC_STATIC, "#128", SS_ICON, 14, 15, 20, 20},
      {"Static", IDC_STATIC, "移动证书管理工具 1.4 版", SS_LEFT, 48, 13, 119, 8},
      {"Static", IDC_STATIC, nullptr, SS_LEFT, 46, 29, 119, 8},
      {"Button", IDOK, "确定", BS_DEFPUSHBUTTON | WS_TABSTOP, 178, 7, 50, 14},
  };
  ASSERT_EQ(t.controls.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const kftest::TemplateControl& c = t.controls[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(i);
    EXPECT_TRUE(kftest::IsClass(c, e.className)) << c.className;
    EXPECT_EQ(c.id, e.id);
    if (e.text) {
      EXPECT_EQ(c.text, e.text);
    }
    EXPECT_EQ(c.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    const DWORD typeMask = i == 3 ? (BS_TYPEMASK | WS_TABSTOP) : SS_TYPEMASK;
    EXPECT_EQ(c.style & typeMask, e.style);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
  }
}

TEST(AboutBox, ClosesWithEnterEscapeAndTheButton) {
  struct Case {
    const char* name;
    kftest::Answer answer;
    INT_PTR result;
  } cases[] = {
      {"button", kftest::Answer::PressButton(IDOK), IDOK},
      {"Enter", kftest::Answer::PressKey(VK_RETURN), IDOK},
      {"Escape", kftest::Answer::PressKey(VK_ESCAPE), IDCANCEL},
  };
  for (const Case& c : cases) {
    kftest::DialogCatcher catcher(c.answer);
    CAboutBox box;
    EXPECT_EQ(box.DoModal(), c.result) << c.name;
    ASSERT_EQ(catcher.Caught().size(), 1u) << c.name;
    EXPECT_FALSE(catcher.Caught()[0].forced) << c.name;
    EXPECT_EQ(box.m_hWnd, nullptr) << c.name;
  }
}

}  // namespace
