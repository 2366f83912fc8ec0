// The real Instalio.exe as a process, watched from outside the way a user
// sees it: its wait window, its message boxes (found by class and caption
// and answered with the button's command), its exit code.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "instalio/instalio_test_support.h"

using namespace instalio_test;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

class Launcher : public ::testing::Test {
 protected:
  Launcher() : m_log(m_root.path() + "\\setup.log") {
    m_pkg = m_root.path() + "\\pkg";
    CreateDirectoryA(m_pkg.c_str(), nullptr);
    CopyFromBin("Instalio.exe", m_pkg + "\\Instalio.exe");
  }
  ~Launcher() override { m_log.WaitAllEnded(10000); }

  void MakeFiles() {
    CreateDirectoryA((m_pkg + "\\files").c_str(), nullptr);
    CopyFromBin("sample_setup.exe", m_pkg + "\\files\\a.exe");
  }
  void WriteConfig(const std::string& text) { WriteFileBytes(m_pkg + "\\config.ini", text); }
  std::string Command() const { return "\"" + m_pkg + "\\Instalio.exe\""; }

  // The launcher's window without a caption: the wait window.
  static HWND WaitWindowOf(DWORD pid, DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    for (;;) {
      for (HWND wnd : DialogsOf(pid, ""))
        if (!GetWindow(wnd, GW_OWNER)) return wnd;
      if (static_cast<LONG>(until - GetTickCount()) <= 0) return nullptr;
      Sleep(50);
    }
  }

  TempDir m_root{"run"};
  std::string m_pkg;
  SetupLog m_log;
};

// The wait window's template exactly as the program carries it.
class ModuleAsData {
 public:
  explicit ModuleAsData(const std::string& path)
      : m_module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ModuleAsData(const ModuleAsData&) = delete;
  ModuleAsData& operator=(const ModuleAsData&) = delete;
  ~ModuleAsData() {
    if (m_module) FreeLibrary(m_module);
  }
  HMODULE get() const { return m_module; }

 private:
  HMODULE m_module;
};

struct TemplateReader {
  const BYTE* p;
  WORD Word() {
    WORD w;
    std::memcpy(&w, p, 2);
    p += 2;
    return w;
  }
  DWORD Dword() {
    DWORD d;
    std::memcpy(&d, p, 4);
    p += 4;
    return d;
  }
  // A string or an ordinal; an ordinal comes back as "#<number>".
  std::string SzOrOrd() {
    const WORD first = Word();
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::wstring text(1, static_cast<wchar_t>(first));
    for (WORD c; (c = Word()) != 0;) text += static_cast<wchar_t>(c);
    char ansi[512] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
    return ansi;
  }
  void AlignDword(const BYTE* base) {
    while ((p - base) % 4) ++p;
  }
};

TEST(LauncherResources, WaitDialogTemplateIsAsDescribed) {
  const ModuleAsData module(BinDir() + "\\Instalio.exe");
  ASSERT_NE(module.get(), nullptr);
  HRSRC res =
      FindResourceExA(module.get(), MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(103),
                      MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  ASSERT_NE(res, nullptr);
  const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(module.get(), res)));
  ASSERT_NE(base, nullptr);

  TemplateReader r{base};
  EXPECT_EQ(r.Word(), 1);  // extended template
  EXPECT_EQ(r.Word(), 0xFFFF);
  r.Dword();                 // help id
  EXPECT_EQ(r.Dword(), 0u);  // extended style
  EXPECT_EQ(r.Dword(), 0x80880048u);
  EXPECT_EQ(r.Word(), 1);  // one control
  const short x = static_cast<short>(r.Word()), y = static_cast<short>(r.Word());
  const short cx = static_cast<short>(r.Word()), cy = static_cast<short>(r.Word());
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(cx, 170);
  EXPECT_EQ(cy, 43);
  EXPECT_EQ(r.SzOrOrd(), "");  // no menu
  EXPECT_EQ(r.SzOrOrd(), "");  // the dialog class
  EXPECT_EQ(r.SzOrOrd(), "");  // no title
  EXPECT_EQ(r.Word(), 9);      // points
  r.Word();                    // weight
  r.Word();                    // italic, character set
  EXPECT_EQ(r.SzOrOrd(), "MS Shell Dlg");

  r.AlignDword(base);
  r.Dword();  // help id
  EXPECT_EQ(r.Dword(), 0u);
  // Resource compilers differ on whether CTEXT implies WS_GROUP.
  EXPECT_EQ(r.Dword() & ~static_cast<DWORD>(WS_GROUP),
            static_cast<DWORD>(WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX));
  const short ix = static_cast<short>(r.Word()), iy = static_cast<short>(r.Word());
  const short icx = static_cast<short>(r.Word()), icy = static_cast<short>(r.Word());
  EXPECT_EQ(ix, 7);
  EXPECT_EQ(iy, 18);
  EXPECT_EQ(icx, 156);
  EXPECT_EQ(icy, 8);
  EXPECT_EQ(static_cast<int>(r.Dword()), -1);
  EXPECT_EQ(r.SzOrOrd(), "#130");  // the static control class
  EXPECT_EQ(r.SzOrOrd(), "正在安装中，请稍候...");
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
  return TRUE;
}

TEST_F(Launcher, WaitWindowIsCentredWithoutTitleBarAndGoesWhenTheSequenceEnds) {
  MakeFiles();
  WriteConfig("[FILES]\r\ncount=1\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\nF1_PARA=/delay=3000\r\n");
  ChildProcess launcher(Command(), m_pkg);
  ASSERT_TRUE(launcher.started());
  const HWND wait = WaitWindowOf(launcher.pid(), 10000);
  ASSERT_NE(wait, nullptr);

  const LONG style = GetWindowLongA(wait, GWL_STYLE);
  EXPECT_EQ(style & 0x80880048, 0x80880048);  // pop-up, border, window menu, font
  EXPECT_EQ(style & WS_DLGFRAME, 0) << "has a title bar";
  char title[64] = "x";
  GetWindowTextA(wait, title, sizeof title);
  EXPECT_STREQ(title, "");

  RECT rc{};
  ASSERT_TRUE(GetWindowRect(wait, &rc));
  const int width = rc.right - rc.left, height = rc.bottom - rc.top;
  EXPECT_GT(width, height);
  EXPECT_EQ(rc.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(rc.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

  std::vector<HWND> children;
  EnumChildWindows(wait, CollectChild, reinterpret_cast<LPARAM>(&children));
  ASSERT_THAT(children, SizeIs(1));
  char cls[32] = {}, text[128] = {};
  GetClassNameA(children[0], cls, sizeof cls);
  GetWindowTextA(children[0], text, sizeof text);
  EXPECT_STRCASEEQ(cls, "Static");
  EXPECT_STREQ(text, "正在安装中，请稍候...");
  EXPECT_EQ(GetDlgCtrlID(children[0]) & 0xFFFF, 0xFFFF);
  const LONG textStyle = GetWindowLongA(children[0], GWL_STYLE);
  EXPECT_EQ(textStyle & SS_TYPEMASK, SS_CENTER);
  EXPECT_TRUE(textStyle & SS_NOPREFIX);

  // The installer runs while the window stays; once it has ended the
  // program ends with 0.
  EXPECT_EQ(launcher.WaitExit(15000), 0u);
  ASSERT_THAT(m_log.Starts("a.exe"), SizeIs(1));
  EXPECT_TRUE(m_log.WaitFor(m_log.Starts("a.exe")[0].pid, "end", 0));
  EXPECT_FALSE(IsWindow(wait));
}

struct EndCase {
  const char* what;
  bool files;
  const char* config;  // null: no config.ini
  const char* text;    // the box to answer; null: none
  int button;
  bool secondStarted;
};

TEST_F(Launcher, ExitsWithZeroWhicheverWayTheSequenceEnds) {
  const char* missingFirst =
      "[FILES]\r\ncount=2\r\nF1_NAME=missing.exe\r\nF1_TYPE=exe\r\n"
      "F2_NAME=a.exe\r\nF2_TYPE=exe\r\nF2_PARA=/second\r\n";
  const std::string missingText = "没有找到源文件:\n" + m_pkg + "\\files\\missing.exe";
  const EndCase cases[] = {
      {"no installer folder", false, missingFirst, "没有找到源文件,请将压缩文件完整解压缩后运行！",
       IDOK, false},
      {"no config.ini", true, nullptr, "没有找到配置文件config.ini.", IDOK, false},
      {"count 0", true, "[FILES]\r\ncount=0\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\n", nullptr, 0,
       false},
      {"Abort on a missing installer", true, missingFirst, missingText.c_str(), IDABORT, false},
      {"Ignore on a missing installer, then to the end", true, missingFirst, missingText.c_str(),
       IDIGNORE, true},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(m_pkg + "\\files");
    DeleteFileA((m_pkg + "\\config.ini").c_str());
    DeleteFileA((m_root.path() + "\\setup.log").c_str());
    if (c.files) MakeFiles();
    if (c.config) WriteConfig(c.config);

    ChildProcess launcher(Command(), m_pkg);
    ASSERT_TRUE(launcher.started());
    if (c.text) {
      const HWND box = WaitForBox(launcher.pid(), "错误", 10000);
      ASSERT_NE(box, nullptr);
      char text[1024] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      EXPECT_EQ(std::string(text), c.text);
      EXPECT_EQ(GetWindow(box, GW_OWNER), WaitWindowOf(launcher.pid(), 0));
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, c.button)));
    }
    EXPECT_EQ(launcher.WaitExit(10000), 0u);
    EXPECT_THAT(m_log.Starts("/second"), SizeIs(c.secondStarted ? 1 : 0));
  }
}

TEST_F(Launcher, CloseRequestEndsAtOnceAndTheInstallerGoesOn) {
  MakeFiles();
  WriteConfig(
      "[FILES]\r\ncount=2\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\nF1_PARA=/delay=4000 /first\r\n"
      "F2_NAME=a.exe\r\nF2_TYPE=exe\r\nF2_PARA=/second\r\n");
  ChildProcess launcher(Command(), m_pkg);
  ASSERT_TRUE(launcher.started());
  const HWND wait = WaitWindowOf(launcher.pid(), 10000);
  ASSERT_NE(wait, nullptr);
  const DWORD until = GetTickCount() + 10000;
  while (m_log.Starts("/first").empty() && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(50);
  const std::vector<SetupEvent> first = m_log.Starts("/first");
  ASSERT_THAT(first, SizeIs(1));

  // What Alt+F4 on the active window turns into.
  PostMessageA(wait, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(launcher.WaitExit(1500), 0u);
  EXPECT_FALSE(m_log.WaitFor(first[0].pid, "end", 0)) << "the launcher waited for the installer";
  EXPECT_TRUE(m_log.WaitFor(first[0].pid, "end", 8000)) << "the installer did not go on";
  EXPECT_THAT(m_log.Starts("/second"), IsEmpty());
}

TEST_F(Launcher, LoadsNoLibraryPlantedBesideItOrInTheCurrentFolder) {
  // shcore.dll is what the shell's path functions pull in; Wine takes it
  // from the program's folder when it is linked in the ordinary way.
  TempDir current("cwd");
  for (const std::string& dir : {m_pkg, current.path()}) {
    CopyFromBin("planted.dll", dir + "\\shcore.dll");
    CopyFromBin("planted.dll", dir + "\\uxtheme.dll");
    // The compiler's runtime library, which start-up code looks for.
    CopyFromBin("planted.dll", dir + "\\libgcc_s_dw2-1.dll");
  }
  const std::string planted = m_root.path() + "\\planted.log";
  SetEnvironmentVariableA("INSTALIO_PLANTED_LOG", planted.c_str());
  MakeFiles();
  WriteConfig(
      "[FILES]\r\ncount=2\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\nF2_NAME=a.exe\r\nF2_TYPE=msi\r\n");
  {
    ChildProcess launcher(Command(), current.path());
    ASSERT_TRUE(launcher.started());
    EXPECT_EQ(launcher.WaitExit(15000), 0u);
  }
  SetEnvironmentVariableA("INSTALIO_PLANTED_LOG", nullptr);
  EXPECT_THAT(m_log.Starts("a.exe"), SizeIs(2));
  EXPECT_FALSE(Exists(planted)) << "a planted library was loaded";
  m_log.WaitAllEnded(10000);
}

}  // namespace
