// Command routing (active view, its document, frame, application) and
// enabling: menus when they open, bars at idle time, and no disabled
// command run from a menu or accelerator.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework_test_res.h"
#include "keyfold/framework/FrameWnd.h"
#include "keyfold/framework/WinApp.h"
#include "support/gui_harness.h"

namespace {

std::vector<std::string> g_ran;
bool g_viewEnabled = false;  // what the view's enabling handler answers

class TestDoc : public kf::CDocument {
 public:
  bool OnCmdMsg(UINT nID, kf::CmdCode code, kf::CCmdUI* pCmdUI) override {
    return kf::DispatchCommandMap(this, kMap, nID, code, pCmdUI) ||
           kf::CDocument::OnCmdMsg(nID, code, pCmdUI);
  }

 private:
  void OnDoc() { g_ran.push_back("doc"); }
  static constexpr kf::CommandEntry<TestDoc> kMap[] = {
      {ID_CMD_DOC, ID_CMD_DOC, &TestDoc::OnDoc, nullptr},
  };
};

class TestView : public kf::CFormView {
 public:
  TestView() : kf::CFormView(IDD_TEXT_FORM) {}
  bool OnCmdMsg(UINT nID, kf::CmdCode code, kf::CCmdUI* pCmdUI) override {
    return kf::DispatchCommandMap(this, kMap, nID, code, pCmdUI) ||
           kf::CFormView::OnCmdMsg(nID, code, pCmdUI);
  }

 private:
  void OnView() { g_ran.push_back("view"); }
  void OnUpdateView(kf::CCmdUI* pCmdUI) { pCmdUI->Enable(g_viewEnabled); }
  void OnShared() { g_ran.push_back("view"); }
  static constexpr kf::CommandEntry<TestView> kMap[] = {
      {ID_CMD_VIEW, ID_CMD_VIEW, &TestView::OnView, &TestView::OnUpdateView},
      {ID_CMD_SHARED, ID_CMD_SHARED, &TestView::OnShared, nullptr},
  };
};

class TestFrame : public kf::CFrameWnd {
 public:
  TestView view;
  bool OnCmdMsg(UINT nID, kf::CmdCode code, kf::CCmdUI* pCmdUI) override {
    return kf::CFrameWnd::OnCmdMsg(nID, code, pCmdUI) ||
           kf::DispatchCommandMap(this, kMap, nID, code, pCmdUI);
  }

 protected:
  bool OnCreateClient(CREATESTRUCTA*, kf::CCreateContext* pContext) override {
    return view.Create(WS_CHILD | WS_VISIBLE, RECT{0, 0, 100, 40}, this, kf::IDW_PANE_FIRST,
                       pContext);
  }

 private:
  void OnFrame() { g_ran.push_back("frame"); }
  void OnUpdateUpdate(kf::CCmdUI* pCmdUI) { pCmdUI->Enable(true); }
  static constexpr kf::CommandEntry<TestFrame> kMap[] = {
      {ID_CMD_FRAME, ID_CMD_SHARED, &TestFrame::OnFrame, nullptr},
      {ID_CMD_UPDATE, ID_CMD_UPDATE, nullptr, &TestFrame::OnUpdateUpdate},
  };
};

class TestApp : public kf::CWinApp {
 public:
  bool OnCmdMsg(UINT nID, kf::CmdCode code, kf::CCmdUI* pCmdUI) override {
    return kf::DispatchCommandMap(this, kMap, nID, code, pCmdUI) ||
           kf::CWinApp::OnCmdMsg(nID, code, pCmdUI);
  }

 private:
  void OnApp() { g_ran.push_back("app"); }
  static constexpr kf::CommandEntry<TestApp> kMap[] = {
      {ID_CMD_APP, ID_CMD_APP, &TestApp::OnApp, nullptr},
  };
};

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ran.clear();
    g_viewEnabled = false;
    kf::CCreateContext ctx;
    ctx.m_pCurrentDoc = &doc;
    ASSERT_TRUE(frame.LoadFrame(IDR_TEST_FRAME, WS_OVERLAPPEDWINDOW, nullptr, &ctx));
    app.m_pMainWnd = &frame;
    frame.InitialUpdateFrame(&doc, true);
    kftest::PumpUntilIdle();
  }
  void TearDown() override { app.m_pMainWnd = nullptr; }

  void FocusView() {
    ::SetFocus(frame.view.GetDlgItem(IDC_FORM_EDIT));
    ASSERT_EQ(frame.GetActiveView(), &frame.view);
  }
  void FocusElsewhere() {
    ::SetFocus(frame.m_hWnd);
    frame.SetActiveView(nullptr);
    ASSERT_EQ(frame.GetActiveView(), nullptr);
  }
  std::string RunFromMenu(UINT id) {
    g_ran.clear();
    ::SendMessageA(frame.m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return g_ran.empty() ? "" : g_ran.back() + (g_ran.size() > 1 ? "+more" : "");
  }
  UINT MenuState(HMENU popup, UINT id) {
    return ::GetMenuState(popup, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED);
  }

  TestApp app;
  TestDoc doc;
  TestFrame frame;
};

TEST_F(CommandTest, FrameTakesTitleMenuAndPane) {
  EXPECT_EQ(frame.GetWindowText(), "框架测试");
  EXPECT_NE(::GetMenu(frame.m_hWnd), nullptr);
  const RECT client = frame.GetClientRect();
  const RECT pane = kftest::RectInParent(frame.view.m_hWnd);
  EXPECT_TRUE(::EqualRect(&client, &pane));
}

TEST_F(CommandTest, CommandsTravelViewDocumentFrameApplication) {
  struct Case {
    UINT id;
    const char* withViewFocused;
    const char* withoutActiveView;
  } cases[] = {
      {ID_CMD_SHARED, "view", "frame"},
      {ID_CMD_DOC, "doc", ""},  // a document is reached only through its view
      {ID_CMD_FRAME, "frame", "frame"},
      {ID_CMD_APP, "app", "app"},
      {ID_CMD_NONE, "", ""},
      {ID_CMD_VIEW, "", ""},  // its enabling handler disables it: not run
  };
  FocusView();
  for (const Case& c : cases) EXPECT_EQ(RunFromMenu(c.id), c.withViewFocused) << c.id;
  FocusElsewhere();
  for (const Case& c : cases) EXPECT_EQ(RunFromMenu(c.id), c.withoutActiveView) << c.id;

  // The frame can name its active view without the focus being there.
  frame.SetActiveView(&frame.view);
  EXPECT_EQ(RunFromMenu(ID_CMD_SHARED), "view");
}

TEST_F(CommandTest, MenuItemsAreEnabledWhenTheirPopupOpens) {
  HMENU popup = ::GetSubMenu(::GetMenu(frame.m_hWnd), 0);
  ASSERT_NE(popup, nullptr);
  HMENU sub = ::GetSubMenu(popup, 5);
  ASSERT_NE(sub, nullptr);
  ASSERT_NE(MenuState(popup, ID_CMD_DOC), 0u);  // grayed in the resource

  FocusView();
  ::SendMessageA(frame.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(0, 0));
  EXPECT_NE(MenuState(popup, ID_CMD_VIEW), 0u) << "enabling handler disables it";
  EXPECT_EQ(MenuState(popup, ID_CMD_DOC), 0u) << "a handler and no enabling handler";
  EXPECT_NE(MenuState(popup, ID_CMD_NONE), 0u) << "no handler at all";
  EXPECT_EQ(MenuState(popup, ID_CMD_UPDATE), 0u) << "enabling handler enables it";
  EXPECT_EQ(::GetMenuState(popup, 5, MF_BYPOSITION) & MF_POPUP, static_cast<UINT>(MF_POPUP));

  FocusElsewhere();
  ::SendMessageA(frame.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(0, 0));
  EXPECT_NE(MenuState(popup, ID_CMD_DOC), 0u) << "its document is out of reach";

  // The system menu is the platform's business.
  HMENU sys = ::GetSystemMenu(frame.m_hWnd, FALSE);
  const UINT closeBefore = ::GetMenuState(sys, SC_CLOSE, MF_BYCOMMAND);
  ::SendMessageA(frame.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sys), MAKELPARAM(0, 1));
  EXPECT_EQ(::GetMenuState(sys, SC_CLOSE, MF_BYCOMMAND), closeBefore);
}

TEST_F(CommandTest, EndOfLogonDestroysTheMainFrameAndEndsTheLoop) {
  ::SendMessageA(frame.m_hWnd, WM_ENDSESSION, FALSE, 0);  // cancelled: nothing happens
  ASSERT_NE(frame.m_hWnd, nullptr);
  HWND hwnd = frame.m_hWnd;
  ::SendMessageA(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(frame.m_hWnd, nullptr);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_EQ(app.Run(), 0);
}

TEST_F(CommandTest, AcceleratorsWorkFromInsideAPaneButNotForDisabledCommands) {
  FocusView();
  HWND edit = frame.view.GetDlgItem(IDC_FORM_EDIT);
  g_ran.clear();
  ::PostMessageA(edit, WM_KEYDOWN, VK_F6, 1);
  ::PostMessageA(edit, WM_KEYUP, VK_F6, static_cast<LPARAM>(0xC0000001u));
  ::PostQuitMessage(3);
  EXPECT_EQ(app.Run(), 3);
  EXPECT_EQ(g_ran, std::vector<std::string>{"frame"});

  // Ctrl+K reaches the view's command while its enabling handler allows it.
  BYTE keys[256] = {};
  ::GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  ::SetKeyboardState(keys);
  for (bool enabled : {true, false}) {
    g_viewEnabled = enabled;
    g_ran.clear();
    ::PostMessageA(edit, WM_KEYDOWN, 'K', 1);
    ::PostQuitMessage(4);
    EXPECT_EQ(app.Run(), 4);
    EXPECT_EQ(g_ran, enabled ? std::vector<std::string>{"view"} : std::vector<std::string>{})
        << enabled;
  }
  keys[VK_CONTROL] = 0;
  ::SetKeyboardState(keys);
}

// Stands for a tool bar: at idle time it asks the frame about its items.
class IdleBar : public kf::CWnd {
 public:
  int idleCalls = 0;
  bool noneEnabled = true;
  bool updateEnabled = false;

 protected:
  void OnIdleUpdateCmdUI(bool bDisableIfNoHandler) override {
    ++idleCalls;
    struct Item : kf::CCmdUI {
      bool* state;
      void Enable(bool bOn) override {
        *state = bOn;
        m_bEnableChanged = true;
      }
    } item;
    item.m_nID = ID_CMD_NONE;
    item.state = &noneEnabled;
    item.DoUpdate(GetParentFrame(), bDisableIfNoHandler);
    item.m_nID = ID_CMD_UPDATE;
    item.state = &updateEnabled;
    item.DoUpdate(GetParentFrame(), bDisableIfNoHandler);
    ::PostQuitMessage(5);
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_APP) {
      ::PostQuitMessage(6);
      return 0;
    }
    return kf::CWnd::WindowProc(message, wParam, lParam);
  }
};

TEST_F(CommandTest, IdleTimeEnablingReachesBarsOfAVisibleFrame) {
  IdleBar bar;
  ASSERT_TRUE(bar.CreateEx(0, nullptr, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 50, 10},
                           frame.m_hWnd, 77));
  EXPECT_EQ(app.Run(), 5);
  EXPECT_EQ(bar.idleCalls, 1);
  EXPECT_FALSE(bar.noneEnabled);
  EXPECT_TRUE(bar.updateEnabled);

  // A hidden frame is not refreshed; the loop still runs to its quit.
  frame.ShowWindow(SW_HIDE);
  bar.idleCalls = 0;
  ::PostMessageA(bar.m_hWnd, WM_APP, 0, 0);
  EXPECT_EQ(app.Run(), 6);
  EXPECT_EQ(bar.idleCalls, 0);
}

}  // namespace
