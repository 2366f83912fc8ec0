// Modal dialogs with text exchange and a maximum length, an OnOK hook
// that can keep the dialog open, and form views made from templates.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "framework_test_res.h"
#include "keyfold/framework/DataExchange.h"
#include "keyfold/framework/Dialog.h"
#include "keyfold/framework/FrameWnd.h"
#include "keyfold/framework/View.h"
#include "keyfold/framework/WinApp.h"
#include "support/gui_harness.h"

namespace {

constexpr int kMaxBytes = 8;

// Refuses texts shorter than 2 bytes in its OnOK with a message box, as an
// input check would.
class TextDialog : public kf::CDialog {
 public:
  TextDialog() : kf::CDialog(IDD_TEXT_DIALOG) {}
  std::string m_strText;
  int rejected = 0;

 protected:
  void DoDataExchange(kf::CDataExchange* pDX) override {
    kf::DDX_Text(pDX, IDC_TEXT_EDIT, m_strText);
    kf::DDV_MaxChars(pDX, m_strText, kMaxBytes);
  }
  void OnOK() override {
    if (!UpdateData(true)) return;
    if (m_strText.size() < 2) {
      ++rejected;
      MessageBox("太短了！", "错误", MB_OK | MB_ICONEXCLAMATION);
      return;
    }
    kf::CDialog::OnOK();
  }
};

std::function<void(HWND)> SetEdit(const std::string& text) {
  return [text](HWND dlg) { ::SetWindowTextA(::GetDlgItem(dlg, IDC_TEXT_EDIT), text.c_str()); };
}

TEST(ModalDialog, ShowsMembersAndLimitsTheEdit) {
  TextDialog dlg;
  dlg.m_strText = "初始";
  std::string shown;
  LRESULT limit = 0;
  kftest::DialogCatcher catcher(std::vector<kftest::Step>{{[&](HWND h) {
                                                             HWND edit = ::GetDlgItem(h, IDC_TEXT_EDIT);
                                                             shown = kftest::WindowText(edit);
                                                             limit = ::SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
                                                           },
                                                           kftest::Answer::PressButton(IDCANCEL)}});
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_EQ(catcher.Caught().size(), 1u);
  EXPECT_EQ(catcher.Caught()[0].caption, "文本");
  EXPECT_EQ(shown, "初始");
  EXPECT_EQ(limit, kMaxBytes);
}

TEST(ModalDialog, OkExchangesTextAndCancelLeavesMembers) {
  struct Case {
    const char* name;
    std::vector<kftest::Step> steps;
    INT_PTR result;
    std::string text;  // m_strText afterwards
    int rejected;
  } cases[] = {
      {"OK", {{SetEdit("口令12"), kftest::Answer::PressButton(IDOK)}}, IDOK, "口令12", 0},
      {"Enter", {{SetEdit("ab"), kftest::Answer::PressKey(VK_RETURN)}}, IDOK, "ab", 0},
      {"8 bytes", {{SetEdit("口令口令"), kftest::Answer::PressButton(IDOK)}}, IDOK, "口令口令", 0},
      {"Cancel", {{SetEdit("改过"), kftest::Answer::PressButton(IDCANCEL)}}, IDCANCEL, "原文", 0},
      {"Escape", {{SetEdit("改过"), kftest::Answer::PressKey(VK_ESCAPE)}}, IDCANCEL, "原文", 0},
  };
  for (Case& c : cases) {
    TextDialog dlg;
    dlg.m_strText = "原文";
    kftest::DialogCatcher catcher(c.steps);
    EXPECT_EQ(dlg.DoModal(), c.result) << c.name;
    ASSERT_EQ(catcher.Caught().size(), 1u) << c.name;
    EXPECT_FALSE(catcher.Caught()[0].forced) << c.name;
    EXPECT_EQ(dlg.m_strText, c.text) << c.name;
    EXPECT_EQ(dlg.rejected, c.rejected) << c.name;
  }
}

TEST(ModalDialog, OnOkCanRefuseWithAMessageBoxAndStayOpen) {
  TextDialog dlg;
  kftest::DialogCatcher catcher({
      {SetEdit("a"), kftest::Answer::PressButton(IDOK)},
      {nullptr, kftest::Answer::PressKey(VK_RETURN)},  // the message box, on top
      {SetEdit("ab"), kftest::Answer::PressButton(IDOK)},
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ASSERT_EQ(catcher.Caught().size(), 2u);
  const kftest::CaughtDialog& box = catcher.Caught()[1];
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "太短了！");
  EXPECT_FALSE(box.forced);
  EXPECT_FALSE(catcher.Caught()[0].forced);
  EXPECT_EQ(dlg.rejected, 1);
  EXPECT_EQ(dlg.m_strText, "ab");
}

TEST(ModalDialog, TooLongTextFailsTheExchangeAndKeepsTheDialogOpen) {
  // Set past the edit's limit by program; lengths are bytes, so five
  // Chinese characters (10 bytes) are too long for 8.
  for (const std::string text : {"123456789", "口令口令口"}) {
    TextDialog dlg;
    dlg.m_strText = "原文";
    kftest::DialogCatcher catcher(
        {{SetEdit(text), kftest::Answer::PressButton(IDOK)},
         {nullptr, kftest::Answer::PressButton(IDCANCEL)}});
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << text;
    ASSERT_EQ(catcher.Caught().size(), 1u);
    const kftest::CaughtDialog& d = catcher.Caught()[0];
    EXPECT_FALSE(d.forced);
    ASSERT_EQ(d.focusIds.size(), 2u);
    EXPECT_EQ(d.focusIds[1], IDC_TEXT_EDIT) << "the failed control gets the focus";
    EXPECT_EQ(dlg.rejected, 0);
  }
}

TEST(ModalDialog, WithoutAParentIsOwnedByTheMainWindow) {
  kf::CWinApp app;
  kf::CFrameWnd frame;
  ASSERT_TRUE(frame.LoadFrame(IDR_TEST_FRAME));
  frame.ShowWindow(SW_SHOW);
  app.m_pMainWnd = &frame;
  HWND owner = nullptr;
  bool frameEnabled = true;
  TextDialog dlg;
  kftest::DialogCatcher catcher({{[&](HWND h) {
                                    owner = ::GetWindow(h, GW_OWNER);
                                    frameEnabled = ::IsWindowEnabled(frame.m_hWnd) != FALSE;
                                  },
                                  kftest::Answer::PressButton(IDCANCEL)}});
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  app.m_pMainWnd = nullptr;
  EXPECT_EQ(owner, frame.m_hWnd);
  EXPECT_FALSE(frameEnabled) << "a modal dialog disables its owner";
  EXPECT_TRUE(::IsWindowEnabled(frame.m_hWnd));
}

TEST(ModalDialog, MissingTemplateFails) {
  kf::CDialog dlg(9999);
  EXPECT_EQ(dlg.DoModal(), -1);
}

class TextForm : public kf::CFormView {
 public:
  TextForm() : kf::CFormView(IDD_TEXT_FORM) {}
  std::string m_strText;
  kf::CEdit m_edit;
  int updates = 0;
  void OnUpdate(kf::CView*, LPARAM, void*) override { ++updates; }

 protected:
  void DoDataExchange(kf::CDataExchange* pDX) override {
    kf::DDX_Control(pDX, IDC_FORM_EDIT, m_edit);
    kf::DDX_Text(pDX, IDC_FORM_EDIT, m_strText);
  }
};

TEST(FormView, IsAChildDialogFromItsTemplate) {
  kf::CFrameWnd frame;
  ASSERT_TRUE(frame.LoadFrame(IDR_TEST_FRAME));
  HWND other = ::CreateWindowExA(0, "BUTTON", "x", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                 frame.m_hWnd, nullptr, nullptr, nullptr);
  frame.ShowWindow(SW_SHOW);
  ::SetFocus(other);

  kf::CDocument doc;
  kf::CCreateContext ctx;
  ctx.m_pCurrentDoc = &doc;
  TextForm form;
  form.m_strText = "表单";
  ASSERT_TRUE(form.Create(WS_CHILD | WS_VISIBLE, RECT{5, 6, 205, 56}, &frame, 1234, &ctx));
  EXPECT_EQ(::GetParent(form.m_hWnd), frame.m_hWnd);
  EXPECT_EQ(form.GetDlgCtrlID(), 1234);
  EXPECT_TRUE(form.GetStyle() & WS_CHILD);
  EXPECT_TRUE(form.GetStyle() & WS_VISIBLE);
  EXPECT_FALSE(form.GetStyle() & WS_CAPTION);
  const RECT r = kftest::RectInParent(form.m_hWnd);
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 6);
  EXPECT_EQ(r.right, 205);
  EXPECT_EQ(r.bottom, 56);
  EXPECT_EQ(::GetFocus(), other) << "creating a pane does not take the focus";
  ASSERT_NE(form.GetDlgItem(IDC_FORM_EDIT), nullptr);
  ASSERT_EQ(doc.Views().size(), 1u);

  doc.SendInitialUpdate();
  EXPECT_EQ(form.updates, 1);
  EXPECT_EQ(form.m_edit.m_hWnd, form.GetDlgItem(IDC_FORM_EDIT));
  EXPECT_EQ(form.m_edit.GetWindowText(), "表单");
  form.m_edit.SetWindowText("改动");
  EXPECT_TRUE(form.UpdateData(true));
  EXPECT_EQ(form.m_strText, "改动");

  doc.UpdateAllViews(nullptr);
  EXPECT_EQ(form.updates, 2);
  doc.UpdateAllViews(&form);  // the sender is not told
  EXPECT_EQ(form.updates, 2);
}

}  // namespace
