// The certificate list and the message pane over one document, in a frame
// laid out as the right column of the main window.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/certs/Render.h"
#include "keyfold/framework/FrameWnd.h"
#include "keyfold/res/resource.h"
#include "keyfold/shell/EditMsg.h"
#include "keyfold/shell/KeyfoldDoc.h"
#include "keyfold/shell/KeyfoldView.h"
#include "support/der_builder.h"
#include "support/gui_harness.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

constexpr UINT kListId = kf::IDW_PANE_FIRST;
constexpr UINT kMsgId = kf::IDW_PANE_FIRST + 16;

// Stands in for the right splitter column: list on top, message pane below.
class RightColumn : public kf::CFrameWnd {
 public:
  void RecalcLayout() override {
    const RECT rc = GetClientRect();
    const int split = (rc.bottom * 2) / 3;
    if (HWND list = GetDlgItem(kListId))
      ::MoveWindow(list, 0, 0, rc.right, split, TRUE);
    if (HWND msg = GetDlgItem(kMsgId)) ::MoveWindow(msg, 0, split, rc.right, rc.bottom - split, TRUE);
  }
};

// The eight rows a rendered certificate gives, with a long serial value.
const char* const kNames[] = {"颁发给", "颁发者", "版本号", "序列号",
                              "签名算法", "有效起始日期", "有效结束日期", "公钥信息"};
const char* const kValues[] = {"张三",
                               "测试根证书颁发机构",
                               "Version 3",
                               "01 02 0A 3F 00 12 55 66 77 88 99 AA BB CC DD EE ",
                               "sha1RSA",
                               "2012年12月20日 9:5:3",
                               "2032年12月20日 9:5:3",
                               "RSA"};
const char kPublicKey[] =
    "30 81 89 02 81 81 00 C1 D2 E3 F4 05 16 27 38 49 5A 6B 7C 8D 9E AF B0 ";

class PanesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(frame.LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW));
    kf::CCreateContext ctx;
    ctx.m_pCurrentDoc = &doc;
    const RECT rc = {0, 0, 500, 200};
    ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | WS_BORDER, rc, &frame, kListId, &ctx));
    const RECT rcMsg = {0, 200, 500, 250};
    ASSERT_TRUE(msg.Create(WS_CHILD | WS_VISIBLE, rcMsg, &frame, kMsgId, &ctx));
    frame.SetWindowText("移动证书管理工具");
    ::SetWindowPos(frame.m_hWnd, nullptr, 40, 40, 560, 380, SWP_NOZORDER);
    frame.InitialUpdateFrame(&doc, true);
    kftest::PumpUntilIdle();
    hList = list.m_hWnd;
    hEdit = msg.GetDlgItem(IDC_MESSAGE_EDIT);
    ASSERT_NE(hEdit, nullptr);
  }

  void SetRows() {
    doc.m_arrFieldNames.clear();
    doc.m_arrFieldValues.clear();
    for (int i = 0; i < 8; ++i) doc.AddField(kNames[i], kValues[i]);
    doc.m_strPublicKey = kPublicKey;
    doc.UpdateAllViews(nullptr);
    kftest::PumpUntilIdle();
  }

  Rows ExpectedRows() const {
    Rows rows;
    for (int i = 0; i < 8; ++i) rows.push_back({kNames[i], kValues[i]});
    return rows;
  }

  std::string Message() const { return kftest::WindowText(hEdit); }

  CKeyfoldDoc doc;
  RightColumn frame;
  CKeyfoldView list;
  CEditMsg msg;
  HWND hList = nullptr;
  HWND hEdit = nullptr;
};

TEST_F(PanesTest, ListIsReportViewWithTwoTitledColumns) {
  EXPECT_EQ(kftest::ClassName(hList), "SysListView32");
  const DWORD style = kftest::Style(hList);
  EXPECT_EQ(style & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_TRUE(style & WS_CHILD);
  EXPECT_TRUE((style & WS_BORDER) || (kftest::ExStyle(hList) & WS_EX_CLIENTEDGE));
  ASSERT_EQ(kftest::ListColumnCount(hList), 2);
  EXPECT_EQ(kftest::ListColumnTitle(hList, 0), "名称");
  EXPECT_EQ(kftest::ListColumnTitle(hList, 1), "值");
  EXPECT_EQ(list.GetColumnWidth(0), 150);
  EXPECT_EQ(list.GetColumnWidth(1), 200);
  LVCOLUMNA col = {};
  col.mask = LVCF_FMT;
  for (int c = 0; c < 2; ++c) {
    ASSERT_TRUE(SendMessageA(hList, LVM_GETCOLUMNA, c, reinterpret_cast<LPARAM>(&col)));
    EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT) << "column " << c;
  }
  EXPECT_TRUE(kftest::ListRows(hList).empty());
  EXPECT_EQ(Message(), "");
}

TEST_F(PanesTest, EveryUpdateRebuildsRowsInOrderAndResetsLook) {
  // Something else changed the look in between; the rebuild puts it back.
  list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES);
  list.SetTextBkColor(RGB(255, 0, 0));
  SetRows();
  EXPECT_EQ(kftest::ListRows(hList), ExpectedRows());
  EXPECT_EQ(list.GetExtendedStyle(), static_cast<DWORD>(LVS_EX_FULLROWSELECT));
  EXPECT_EQ(list.GetTextBkColor(), CLR_NONE);

  // Fewer rows next time: nothing of the old rows stays.
  doc.m_arrFieldNames = {"颁发给"};
  doc.m_arrFieldValues = {"李四"};
  doc.UpdateAllViews(nullptr);
  EXPECT_EQ(kftest::ListRows(hList), (Rows{{"颁发给", "李四"}}));
}

TEST_F(PanesTest, ClickingARowShowsItsValueAndKeepsTheSelection) {
  SetRows();
  struct Case {
    int row;
    std::string shown;
  } cases[] = {
      {3, kValues[3]},  // the long serial, whole
      {0, kValues[0]},
      {7, kPublicKey},  // the key's full text, not the algorithm the row shows
  };
  for (const Case& c : cases) {
    kftest::ClickListRow(hList, c.row);
    EXPECT_EQ(Message(), c.shown) << "row " << c.row;
    EXPECT_EQ(doc.m_strMessage, c.shown) << "row " << c.row;
    EXPECT_EQ(kftest::ListSelectedRows(hList), std::vector<int>{c.row}) << "row " << c.row;
    EXPECT_EQ(kftest::ListRows(hList), ExpectedRows()) << "row " << c.row;
    EXPECT_FALSE(list.m_bClickUpdate);
  }
}

TEST_F(PanesTest, ClickShowsLongDoubleByteValuesWhole) {
  // Names of several hundred bytes, in double-byte characters: the
  // message pane gets every byte, whatever the text's length.
  SetRows();
  for (const size_t chars : {127u, 128u, 129u, 200u, 255u, 256u, 300u}) {
    std::string value;
    for (size_t i = 0; i < chars; ++i) value += (i % 2) ? "证" : "书";
    value += "x";
    doc.m_arrFieldValues[1] = value;
    doc.UpdateAllViews(nullptr);
    kftest::ClickListRow(hList, 1);
    EXPECT_EQ(Message().size(), value.size()) << chars;
    EXPECT_EQ(doc.m_strMessage, value) << chars;
  }
}

TEST_F(PanesTest, ClickBelowTheRowsChangesNothing) {
  SetRows();
  kftest::ClickListRow(hList, 3);
  ASSERT_EQ(Message(), kValues[3]);
  const RECT client = list.GetClientRect();
  kftest::ClickListPoint(hList, POINT{20, client.bottom - 5});
  EXPECT_EQ(Message(), kValues[3]);
  EXPECT_EQ(doc.m_strMessage, kValues[3]);
  EXPECT_EQ(kftest::ListRows(hList), ExpectedRows());

  // With nothing shown yet, a click on empty space leaves the pane empty.
  doc.ClearDetails();
  kftest::ClickListPoint(hList, POINT{20, 40});
  EXPECT_EQ(Message(), "");
}

TEST_F(PanesTest, TheUpdateAfterAClickRebuilds) {
  SetRows();
  kftest::ClickListRow(hList, 3);
  doc.m_arrFieldNames = {"颁发给", "颁发者"};
  doc.m_arrFieldValues = {"王五", "另一个颁发机构"};
  doc.UpdateAllViews(nullptr);
  EXPECT_EQ(kftest::ListRows(hList), (Rows{{"颁发给", "王五"}, {"颁发者", "另一个颁发机构"}}));
  EXPECT_TRUE(kftest::ListSelectedRows(hList).empty());
}

TEST_F(PanesTest, ClearDetailsEmptiesListAndMessagePane) {
  SetRows();
  kftest::ClickListRow(hList, 7);
  ASSERT_EQ(Message(), kPublicKey);
  doc.m_strNote = "口令校验成功";
  doc.ClearDetails();
  kftest::PumpUntilIdle();
  EXPECT_TRUE(kftest::ListRows(hList).empty());
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(doc.m_strNote, "");
  EXPECT_TRUE(doc.m_arrFieldValues.empty());
  EXPECT_EQ(doc.m_strPublicKey, kPublicKey);
}

TEST_F(PanesTest, TypedTextIsReplacedAtTheNextUpdate) {
  doc.m_strMessage = "旧的消息";
  doc.UpdateAllViews(nullptr);
  ASSERT_EQ(Message(), "旧的消息");
  SendMessageA(hEdit, EM_SETSEL, 0, -1);
  kftest::TypeText(hEdit, "用户输入的文字");
  ASSERT_EQ(Message(), "用户输入的文字");
  // The program never reads it back.
  EXPECT_EQ(doc.m_strMessage, "旧的消息");
  doc.m_strMessage = "新的消息";
  doc.UpdateAllViews(nullptr);
  EXPECT_EQ(Message(), "新的消息");
}

TEST_F(PanesTest, EditFillsItsPaneWithAOnePixelMargin) {
  const DWORD style = kftest::Style(hEdit);
  EXPECT_EQ(kftest::ClassName(hEdit), "Edit");
  for (DWORD bit : {DWORD{WS_VISIBLE}, DWORD{WS_CHILD}, DWORD{WS_TABSTOP}, DWORD{WS_VSCROLL},
                    DWORD{ES_MULTILINE}, DWORD{ES_AUTOVSCROLL}})
    EXPECT_TRUE(style & bit) << std::hex << bit;
  EXPECT_FALSE(style & ES_READONLY);

  const SIZE sizes[] = {{500, 50}, {300, 120}, {40, 8}, {2, 2}};
  for (const SIZE& s : sizes) {
    ::SetWindowPos(msg.m_hWnd, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER);
    const RECT client = msg.GetClientRect();
    const RECT r = kftest::RectInParent(hEdit);
    EXPECT_EQ(r.left, client.left + 1) << s.cx << "x" << s.cy;
    EXPECT_EQ(r.top, client.top + 1) << s.cx << "x" << s.cy;
    EXPECT_EQ(r.right, std::max(client.left + 1L, client.right - 1)) << s.cx << "x" << s.cy;
    EXPECT_EQ(r.bottom, std::max(client.top + 1L, client.bottom - 1)) << s.cx << "x" << s.cy;
  }
}

TEST(MessagePaneForm, TemplateIsAChildFormWithTheEditOnly) {
  kftest::DialogTemplate t;
  ASSERT_TRUE(kftest::ReadDialogTemplate(IDD_EDITMSG_FORM, t));
  EXPECT_EQ(t.style, static_cast<DWORD>(DS_SETFONT | WS_CHILD | WS_CLIPCHILDREN));
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.cx, 173);
  EXPECT_EQ(t.cy, 12);
  EXPECT_EQ(t.caption, "");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.fontName, "MS Sans Serif");
  ASSERT_EQ(t.controls.size(), 1u);
  const kftest::TemplateControl& edit = t.controls[0];
  EXPECT_TRUE(kftest::IsClass(edit, "Edit")) << edit.className;
  EXPECT_EQ(edit.id, IDC_MESSAGE_EDIT);
  EXPECT_EQ(edit.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL |
                                           ES_MULTILINE | ES_AUTOVSCROLL));
  EXPECT_EQ(edit.exStyle, 0u);
}

TEST_F(PanesTest, RenderedCertificateFillsTheListAndItsRowsCanBeRead) {
  kftest::CertFields fields;
  fields.subject = kftest::CommonName("张三");
  fields.issuer = kftest::CommonName("测试根证书颁发机构");
  fields.serial = {0x01, 0x02, 0x0A, 0x3F, 0x00, 0x12, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
  const kftest::Bytes cert = kftest::BuildCertificate(fields);
  keyfold::RenderCertificate(doc, cert.data(), static_cast<int>(cert.size()));
  kftest::PumpUntilIdle();

  const Rows rows = kftest::ListRows(hList);
  ASSERT_EQ(rows.size(), 8u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], doc.m_arrFieldNames[i]) << i;
    EXPECT_EQ(rows[i][1], doc.m_arrFieldValues[i]) << i;
  }
  EXPECT_EQ(rows[0][1], "张三");
  EXPECT_EQ(rows[3][1], "01 02 0A 3F 00 12 55 66 77 88 99 AA BB ");
  EXPECT_EQ(rows[7][0], "公钥信息");

  kftest::ClickListRow(hList, 7);
  EXPECT_EQ(Message(), doc.m_strPublicKey);
  EXPECT_GT(Message().size(), 400u);  // the whole key, not "RSA"
  kftest::ClickListRow(hList, 3);
  EXPECT_EQ(Message(), "01 02 0A 3F 00 12 55 66 77 88 99 AA BB ");
  EXPECT_EQ(kftest::ListSelectedRows(hList), std::vector<int>{3});

  const std::string path = kftest::SaveWindowPng(frame.m_hWnd, "certificate_list");
  EXPECT_FALSE(path.empty());
  RecordProperty("screenshot", path);
}

}  // namespace
