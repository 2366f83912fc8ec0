// The window base: the object is attached before its handlers run, gets
// its messages, lets go of the window at the end, and no exception leaves
// a window procedure.
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/framework/Wnd.h"
#include "support/gui_harness.h"

namespace {

class ProbeWnd : public kf::CWnd {
 public:
  bool attachedAtCreate = false;
  bool throwInCreate = false;
  bool throwInSize = false;
  int sizes = 0;
  SIZE lastSize = {};
  bool destroyed = false;
  int notified = 0;
  bool postNcDestroySawNoHandle = false;

 protected:
  int OnCreate(CREATESTRUCTA* pcs) override {
    attachedAtCreate = m_hWnd != nullptr && FromHandlePermanent(m_hWnd) == this;
    if (throwInCreate) throw std::runtime_error("create");
    return kf::CWnd::OnCreate(pcs);
  }
  void OnSize(UINT, int cx, int cy) override {
    if (throwInSize) throw std::runtime_error("size");
    ++sizes;
    lastSize = {cx, cy};
  }
  void OnDestroy() override {
    destroyed = true;
    kf::CWnd::OnDestroy();
  }
  bool OnNotify(WPARAM, LPARAM, LRESULT* pResult) override {
    ++notified;
    *pResult = 99;
    return true;
  }
  void PostNcDestroy() override { postNcDestroySawNoHandle = m_hWnd == nullptr; }
};

// A control that answers one notification code of its own.
class ReflectingEdit : public kf::CEdit {
 public:
  UINT handledCode = 1234;
  int reflected = 0;

 protected:
  bool OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* pResult) override {
    if (message != WM_NOTIFY) return false;
    if (reinterpret_cast<NMHDR*>(lParam)->code != handledCode) return false;
    ++reflected;
    *pResult = 7;
    return true;
  }
};

class CountingEdit : public kf::CEdit {
 public:
  int messages = 0;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    ++messages;
    return kf::CEdit::WindowProc(message, wParam, lParam);
  }
};

const RECT kRect = {10, 10, 310, 210};

TEST(WindowBase, ObjectIsAttachedForItsWholeLife) {
  ProbeWnd w;
  ASSERT_TRUE(w.CreateEx(0, nullptr, "probe", WS_OVERLAPPEDWINDOW, kRect, nullptr, 0));
  EXPECT_TRUE(w.attachedAtCreate);
  EXPECT_EQ(kf::CWnd::FromHandlePermanent(w.m_hWnd), &w);

  ::SetWindowPos(w.m_hWnd, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
  const RECT client = w.GetClientRect();
  EXPECT_GT(w.sizes, 0);
  EXPECT_EQ(w.lastSize.cx, client.right);
  EXPECT_EQ(w.lastSize.cy, client.bottom);

  HWND hwnd = w.m_hWnd;
  EXPECT_TRUE(w.DestroyWindow());
  EXPECT_TRUE(w.destroyed);
  EXPECT_TRUE(w.postNcDestroySawNoHandle);
  EXPECT_EQ(w.m_hWnd, nullptr);
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST(WindowBase, DestroyingTheObjectDestroysItsWindow) {
  HWND hwnd = nullptr;
  {
    ProbeWnd w;
    ASSERT_TRUE(w.CreateEx(0, nullptr, "probe", WS_OVERLAPPEDWINDOW, kRect, nullptr, 0));
    hwnd = w.m_hWnd;
  }
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST(WindowBase, ExceptionsStopAtTheWindowProcedure) {
  ProbeWnd failing;
  failing.throwInCreate = true;
  EXPECT_FALSE(failing.CreateEx(0, nullptr, "probe", WS_OVERLAPPEDWINDOW, kRect, nullptr, 0));
  EXPECT_EQ(failing.m_hWnd, nullptr);

  ProbeWnd w;
  ASSERT_TRUE(w.CreateEx(0, nullptr, "probe", WS_OVERLAPPEDWINDOW, kRect, nullptr, 0));
  w.throwInSize = true;
  EXPECT_EQ(::SendMessageA(w.m_hWnd, WM_SIZE, 0, MAKELPARAM(50, 60)), 0);
  w.throwInSize = false;
  ::SendMessageA(w.m_hWnd, WM_SIZE, 0, MAKELPARAM(70, 80));
  EXPECT_EQ(w.lastSize.cx, 70);
  EXPECT_EQ(w.lastSize.cy, 80);
}

TEST(WindowBase, SubclassedControlStaysUnicodeAndIsGivenBack) {
  ProbeWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, "parent", WS_OVERLAPPEDWINDOW, kRect, nullptr, 0));
  HWND raw = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20,
                               parent.m_hWnd, reinterpret_cast<HMENU>(5), nullptr, nullptr);
  ASSERT_NE(raw, nullptr);

  CountingEdit edit;
  ASSERT_TRUE(edit.SubclassWindow(raw));
  EXPECT_EQ(kf::CWnd::FromHandlePermanent(raw), &edit);
  // An ANSI subclass would split typed Chinese characters into bytes.
  EXPECT_TRUE(::IsWindowUnicode(raw));
  kftest::TypeText(raw, "证书");
  EXPECT_EQ(edit.GetWindowText(), "证书");
  edit.SetWindowText("口令");
  EXPECT_EQ(kftest::WindowText(raw), "口令");

  EXPECT_GT(edit.messages, 0);

  EXPECT_EQ(edit.UnsubclassWindow(), raw);
  EXPECT_EQ(kf::CWnd::FromHandlePermanent(raw), nullptr);
  const int seen = edit.messages;
  ::SetWindowTextA(raw, "密钥");
  EXPECT_EQ(kftest::WindowText(raw), "密钥");
  EXPECT_EQ(edit.messages, seen) << "the control's own procedure is back";
  EXPECT_TRUE(::IsWindow(raw));
}

TEST(WindowBase, ParentReflectsNotificationsToItsChildObjects) {
  ProbeWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, "parent", WS_OVERLAPPEDWINDOW, kRect, nullptr, 0));
  ReflectingEdit child;
  ASSERT_TRUE(child.CreateEx(0, "EDIT", "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 100, 20},
                             parent.m_hWnd, 9));
  EXPECT_EQ(kf::CWnd::FromHandlePermanent(child.m_hWnd), &child);

  NMHDR hdr = {child.m_hWnd, 9, child.handledCode};
  EXPECT_EQ(::SendMessageA(parent.m_hWnd, WM_NOTIFY, 9, reinterpret_cast<LPARAM>(&hdr)), 7);
  EXPECT_EQ(child.reflected, 1);
  EXPECT_EQ(parent.notified, 0);

  hdr.code = 4321;  // not the child's: the parent handles it
  EXPECT_EQ(::SendMessageA(parent.m_hWnd, WM_NOTIFY, 9, reinterpret_cast<LPARAM>(&hdr)), 99);
  EXPECT_EQ(child.reflected, 1);
  EXPECT_EQ(parent.notified, 1);
}

}  // namespace
