// The install sequence run in-process against throw-away packages: real
// installers (the stand-in, which records its command line), real message
// boxes answered through a WH_CBT hook, the real profile functions.
#include <windows.h>

#include <shlobj.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "InstallSequence.h"
#include "instalio/instalio_test_support.h"

using namespace instalio_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

namespace {

constexpr char kFolderMissing[] = "没有找到源文件,请将压缩文件完整解压缩后运行！";
constexpr char kConfigMissing[] = "没有找到配置文件config.ini.";
constexpr char kReinstall[] = "Velotun5的目录已经存在，是否再次安装Velotun5组件?";

class InstallSequence : public ::testing::Test {
 protected:
  InstallSequence() : m_log(m_root.path() + "\\setup.log") {
    m_pkg = m_root.path() + "\\pkg";
    CreateDirectoryA(m_pkg.c_str(), nullptr);
  }
  ~InstallSequence() override { m_log.WaitAllEnded(10000); }

  std::string Files() const { return m_pkg + "\\files"; }
  std::string Installer(const std::string& name) const { return Files() + "\\" + name; }
  void MakeFiles() { CreateDirectoryA(Files().c_str(), nullptr); }
  void AddInstaller(const std::string& name) { CopyFromBin("sample_setup.exe", Installer(name)); }
  void WriteConfig(const std::string& text) { WriteFileBytes(m_pkg + "\\config.ini", text); }

  // Runs the sequence on this thread, as the worker would, and checks that
  // it ended with exactly one end command to its window.
  void Run() {
    OwnerWindow owner;
    m_owner = owner.get();
    instalio::RunInstallSequenceIn(owner.get(), m_pkg.c_str());
    m_returnedMs = NowMs();
    std::vector<LPARAM> lParams;
    EXPECT_THAT(owner.TakeCommands(&lParams), ElementsAre(WPARAM{105}));
    EXPECT_THAT(lParams, ElementsAre(LPARAM{0}));
  }

  // The quoted installer path, as every "exe" command line begins.
  std::string Quoted(const std::string& name) const { return "\"" + Installer(name) + "\""; }

  TempDir m_root{"seq"};
  std::string m_pkg;
  SetupLog m_log;
  HWND m_owner = nullptr;
  unsigned long long m_returnedMs = 0;
};

void ExpectErrorBox(const BoxSeen& box, HWND owner, const std::string& text,
                    std::vector<int> buttons) {
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.buttons, buttons);
  EXPECT_TRUE(box.informationIcon);
  EXPECT_EQ(box.owner, owner);
}

// --- the package checks -------------------------------------------------

struct PackageCase {
  const char* what;
  bool filesFolder;
  const char* config;   // null: no config.ini
  const char* message;  // null: none expected
};

TEST_F(InstallSequence, PackageChecksComeInOrderAndStartNothing) {
  const char* oneEntry = "[FILES]\r\ncount=1\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\n";
  const PackageCase cases[] = {
      {"no installer folder, config.ini present", false, oneEntry, kFolderMissing},
      {"no config.ini", true, nullptr, kConfigMissing},
      {"count 0", true, "[FILES]\r\ncount=0\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\n", nullptr},
      {"count missing", true, "[FILES]\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\n", nullptr},
      {"count only in another section", true,
       "[OTHER]\r\ncount=1\r\n[FILES]\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\n", nullptr},
  };
  for (const PackageCase& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(m_pkg);
    CreateDirectoryA(m_pkg.c_str(), nullptr);
    if (c.filesFolder) {
      MakeFiles();
      AddInstaller("a.exe");
    }
    if (c.config) WriteConfig(c.config);
    BoxScript boxes({{IDOK, nullptr}});
    Run();
    if (c.message) {
      ASSERT_THAT(boxes.seen(), SizeIs(1));
      ExpectErrorBox(boxes.seen()[0], m_owner, c.message, {IDOK});
    } else {
      EXPECT_THAT(boxes.seen(), IsEmpty());
    }
    EXPECT_THAT(m_log.Read(), IsEmpty());
  }
}

// --- one table of entries ---------------------------------------------

TEST_F(InstallSequence, EntriesAreStartedAsTheirTypeSays) {
  MakeFiles();
  AddInstaller("a.exe");
  AddInstaller("b.exe");
  const std::string name63(59, 'n');  // + ".exe" = 63 characters
  AddInstaller(name63 + ".exe");
  WriteFileBytes(Installer("bad.exe"), "not a program");
  const std::string longPara = "/delay=0 /long " + std::string(600, 'p');

  WriteConfig(
      "[FILES]\r\ncount=8\r\n"
      // An empty name skips the entry whatever else it sets.
      "F1_NAME=\r\nF1_TYPE=exe\r\nF1_PARA=/skipped\r\n"
      "F2_NAME=a.exe\r\nF2_TYPE=EXE\r\nF2_PARA=\r\n"
      // Texts from config.ini are data, never format strings.
      "F3_NAME=a.exe\r\nF3_TYPE=exe\r\nF3_PARA=/delay=300 %s%n%x \"q r\"\r\n"
      "F4_NAME=b.exe\r\nF4_TYPE=msi\r\nF4_PARA=/delay=2500 /by-shell-msi\r\n"
      "F5_NAME=b.exe\r\nF5_TYPE=\r\nF5_PARA=/delay=2500 /by-shell-empty\r\n"
      "F6_NAME=bad.exe\r\nF6_TYPE=exe\r\n"
      // Values beyond the buffers are cut: the name to 63, the parameters
      // to 498 characters.
      "F7_NAME=" +
      name63 + ".exe-and-more\r\nF7_TYPE=exe\r\nF7_PARA=" + longPara +
      "\r\n"
      "F8_NAME=a.exe\r\nF8_TYPE=exe\r\nF8_PARA=/last\r\n");

  BoxScript boxes({{IDOK, nullptr}});
  Run();

  ASSERT_THAT(boxes.seen(), SizeIs(1));
  ExpectErrorBox(boxes.seen()[0], m_owner, "启动以下安装程序失败[193]：\n" + Quoted("bad.exe"),
                 {IDOK});

  const std::vector<SetupEvent> events = m_log.Read();
  std::vector<SetupEvent> starts;
  for (const SetupEvent& e : events)
    if (e.event == "start") starts.push_back(e);
  ASSERT_THAT(starts, SizeIs(6));
  EXPECT_THAT(m_log.Starts("/skipped"), IsEmpty());

  // "exe" entries: exactly the quoted path, then one blank and the
  // parameters when there are any.
  EXPECT_EQ(starts[0].detail, Quoted("a.exe"));
  EXPECT_EQ(starts[1].detail, Quoted("a.exe") + " /delay=300 %s%n%x \"q r\"");
  // Everything else goes through the shell with its parameters.
  EXPECT_THAT(starts[2].detail, HasSubstr("b.exe"));
  EXPECT_THAT(starts[2].detail, HasSubstr("/delay=2500 /by-shell-msi"));
  EXPECT_THAT(starts[3].detail, HasSubstr("/delay=2500 /by-shell-empty"));
  EXPECT_EQ(starts[4].detail, Quoted(name63 + ".exe") + " " + longPara.substr(0, 498));
  EXPECT_EQ(starts[5].detail, Quoted("a.exe") + " /last");

  // A started process is asked to show its window and runs in the
  // launcher's current folder; the shell is told to show normally.
  auto startupOf = [&](const SetupEvent& start) {
    for (const SetupEvent& e : events)
      if (e.pid == start.pid && e.event == "startup") return e.detail;
    return std::string();
  };
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  for (int i : {0, 1, 4, 5})
    EXPECT_EQ(startupOf(starts[i]), "show=5 flags=1 dir=" + std::string(cwd)) << i;
  for (int i : {2, 3}) EXPECT_THAT(startupOf(starts[i]), StartsWith("show=1 ")) << i;

  auto endOf = [&](const SetupEvent& start) {
    for (const SetupEvent& e : events)
      if (e.pid == start.pid && e.event == "end") return e.ms;
    return 0ull;
  };
  // An "exe" entry has ended before the next one starts, and the launcher
  // pauses a second after it; a shell-opened one is given only that second
  // and is still running when the next one starts.
  for (int i : {0, 1}) {
    SCOPED_TRACE(i);
    ASSERT_NE(endOf(starts[i]), 0u);
    EXPECT_GE(starts[i + 1].ms, endOf(starts[i]) + 900);
  }
  for (int i : {2, 3}) {
    SCOPED_TRACE(i);
    EXPECT_GE(starts[i + 1].ms, starts[i].ms + 900);
    const unsigned long long end = endOf(starts[i]);
    EXPECT_TRUE(end == 0 || end > starts[i + 1].ms);
  }
  // A failed start is followed by a second's pause once its box is gone.
  EXPECT_GE(starts[4].ms, boxes.seen()[0].answeredMs + 900);
  // The last "exe" entry is waited for, and a second more, before the end
  // command.
  ASSERT_NE(endOf(starts[5]), 0u);
  EXPECT_GE(m_returnedMs, endOf(starts[5]) + 900);
}

TEST_F(InstallSequence, EmptyNamesAreSkippedWithoutPause) {
  MakeFiles();
  AddInstaller("a.exe");
  std::string config = "[FILES]\r\ncount=200\r\n";
  for (int n = 1; n <= 200; ++n) {
    // Half of them name the key with an empty value, half leave it out.
    if (n % 2) config += "F" + std::to_string(n) + "_NAME=\r\n";
    config += "F" + std::to_string(n) + "_TYPE=exe\r\nF" + std::to_string(n) + "_PARA=/x\r\n";
  }
  WriteConfig(config);
  BoxScript boxes;
  const unsigned long long began = NowMs();
  Run();
  // One pause alone would take a second.
  EXPECT_LT(m_returnedMs - began, 900u);
  EXPECT_THAT(boxes.seen(), IsEmpty());
  EXPECT_THAT(m_log.Read(), IsEmpty());
}

// --- missing installers -------------------------------------------------

struct MissingCase {
  const char* what;
  std::vector<int> answers;
  bool copyBeforeLastAnswer;
  bool lateStarted;
  bool secondStarted;
};

TEST_F(InstallSequence, MissingInstallerIsAskedAbout) {
  const std::string lateName = "late%s%n.exe";
  const MissingCase cases[] = {
      {"Ignore goes on with the next entry", {IDIGNORE}, false, false, true},
      {"Abort ends without touching later entries", {IDABORT}, false, false, false},
      {"Retry looks again and starts it once it is there", {IDRETRY, IDRETRY}, true, true, true},
  };
  MakeFiles();
  AddInstaller("a.exe");
  WriteConfig(
      "[FILES]\r\ncount=2\r\nF1_NAME=" + lateName +
      "\r\nF1_TYPE=exe\r\nF1_PARA=/late\r\nF2_NAME=a.exe\r\nF2_TYPE=exe\r\nF2_PARA=/second\r\n");
  for (const MissingCase& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA(Installer(lateName).c_str());
    DeleteFileA((m_root.path() + "\\setup.log").c_str());
    std::vector<BoxScript::Answer> script;
    for (size_t i = 0; i < c.answers.size(); ++i) {
      const bool copy = c.copyBeforeLastAnswer && i + 1 == c.answers.size();
      script.push_back({c.answers[i], copy ? std::function<void()>([&] { AddInstaller(lateName); })
                                           : std::function<void()>()});
    }
    BoxScript boxes(script);
    Run();
    ASSERT_THAT(boxes.seen(), SizeIs(c.answers.size()));
    for (const BoxSeen& box : boxes.seen())
      ExpectErrorBox(box, m_owner, "没有找到源文件:\n" + Installer(lateName),
                     {IDABORT, IDRETRY, IDIGNORE});
    EXPECT_THAT(m_log.Starts("/late"), SizeIs(c.lateStarted ? 1 : 0));
    EXPECT_THAT(m_log.Starts("/second"), SizeIs(c.secondStarted ? 1 : 0));
  }
}

TEST_F(InstallSequence, OverLongPathIsReportedAsMissingAndPassedOver) {
  // A package folder so deep that "files\<name>" no longer fits in a path
  // buffer, while a short name still does (259 characters exactly).
  std::string deep = m_root.path();
  while (deep.size() < 247 - 1) {
    const size_t part = std::min<size_t>(60, 247 - 1 - deep.size());
    deep += "\\" + std::string(part, 'd');
    CreateDirectoryA(deep.c_str(), nullptr);
  }
  ASSERT_EQ(deep.size(), 247u);
  ASSERT_TRUE(Exists(deep));
  m_pkg = deep;
  MakeFiles();
  AddInstaller("a.exe");
  ASSERT_EQ(Installer("a.exe").size(), 259u);
  ASSERT_TRUE(Exists(Installer("a.exe")));
  const std::string longName = "long_installer_name_xyz.exe";
  WriteConfig("[FILES]\r\ncount=2\r\nF1_NAME=" + longName +
              "\r\nF1_TYPE=exe\r\nF2_NAME=a.exe\r\nF2_TYPE=exe\r\nF2_PARA=/after-long\r\n");

  BoxScript boxes;
  Run();
  ASSERT_THAT(boxes.seen(), SizeIs(1));
  ExpectErrorBox(boxes.seen()[0], m_owner, "没有找到源文件:\n" + Installer(longName).substr(0, 259),
                 {IDOK});
  EXPECT_THAT(m_log.Starts("/after-long"), SizeIs(1));
}

// --- the re-install question ------------------------------------------

std::string ClientDirByOtherMeans() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder))) return {};
  return std::string(folder) + "\\Velotun\\velotun";
}

struct ReinstallCase {
  const char* what;
  const char* name;
  const char* type;
  bool dirExists;
  int answer;  // 0: no question expected
  bool started;
};

TEST_F(InstallSequence, ReinstallQuestionOnlyForTheClientWhenInstalled) {
  const std::string clientDir = ClientDirByOtherMeans();
  ASSERT_FALSE(clientDir.empty());
  char reported[MAX_PATH];
  instalio::ClientInstallDirectory(reported);
  EXPECT_EQ(reported, clientDir);

  const ReinstallCase cases[] = {
      {"installed, No skips just that entry", "velotun.exe", "exe", true, IDNO, false},
      {"installed, any case, Yes installs", "VELOTUN.EXE", "Exe", true, IDYES, true},
      {"not installed", "velotun.exe", "exe", false, 0, true},
      {"not an exe entry", "velotun.exe", "msi", true, 0, true},
      {"another name", "velotun5.exe", "exe", true, 0, true},
  };
  MakeFiles();
  AddInstaller("a.exe");
  for (const ReinstallCase& c : cases) {
    SCOPED_TRACE(c.what);
    AddInstaller(c.name);
    RemoveTree(clientDir.substr(0, clientDir.find_last_of('\\')));
    if (c.dirExists) SHCreateDirectoryExA(nullptr, clientDir.c_str(), nullptr);
    ASSERT_EQ(Exists(clientDir), c.dirExists);
    DeleteFileA((m_root.path() + "\\setup.log").c_str());
    WriteConfig(std::string("[FILES]\r\ncount=2\r\nF1_NAME=") + c.name + "\r\nF1_TYPE=" + c.type +
                "\r\nF1_PARA=/client\r\nF2_NAME=a.exe\r\nF2_TYPE=msi\r\nF2_PARA=/next\r\n");
    BoxScript boxes({{c.answer ? c.answer : IDNO, nullptr}});
    Run();
    if (c.answer) {
      ASSERT_THAT(boxes.seen(), SizeIs(1));
      const BoxSeen& box = boxes.seen()[0];
      EXPECT_EQ(box.caption, "安装");
      EXPECT_EQ(box.text, kReinstall);
      EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
      EXPECT_TRUE(box.questionIcon);
      EXPECT_EQ(box.defaultButton, IDNO);
      EXPECT_EQ(box.focusButton, IDNO);
      EXPECT_EQ(box.owner, m_owner);
    } else {
      EXPECT_THAT(boxes.seen(), IsEmpty());
    }
    EXPECT_THAT(m_log.Starts("/client"), SizeIs(c.started ? 1 : 0));
    EXPECT_THAT(m_log.Starts("/next"), SizeIs(1));
    m_log.WaitAllEnded(10000);
  }
  RemoveTree(clientDir.substr(0, clientDir.find_last_of('\\')));
}

// --- waiting for the installer's window -------------------------------

struct TitleCase {
  const char* what;
  const char* para;
  const char* title;
  bool foreground;
};

TEST_F(InstallSequence, InstallerWindowIsBroughtToTheFrontOrWaitedForUntilTheEnd) {
  const TitleCase cases[] = {
      {"a title that shows up is brought to the front",
       "\"/window=Setup %s Window\" /window-after=700 /delay=1800", "Setup %s Window", true},
      // The stand-in never activates itself: without a title nothing
      // brings its window forward, which shows the case above is the
      // launcher's doing.
      {"no title, nothing brought forward",
       "\"/window=Setup %s Window\" /window-after=700 /delay=1800", "", false},
      {"a title that never shows up is waited for until the end", "/delay=1500", "Never Shown",
       false},
  };
  MakeFiles();
  AddInstaller("a.exe");
  for (const TitleCase& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA((m_root.path() + "\\setup.log").c_str());
    WriteConfig(std::string("[FILES]\r\ncount=1\r\nF1_NAME=a.exe\r\nF1_TYPE=exe\r\nF1_PARA=") +
                c.para + "\r\nF1_WNDTITLE=" + c.title + "\r\n");
    Run();
    const std::vector<SetupEvent> starts = m_log.Starts("a.exe");
    ASSERT_THAT(starts, SizeIs(1));
    bool foreground = false;
    unsigned long long end = 0;
    for (const SetupEvent& e : m_log.Read()) {
      if (e.event == "foreground") foreground = true;
      if (e.event == "end") end = e.ms;
    }
    EXPECT_EQ(foreground, c.foreground);
    ASSERT_NE(end, 0u) << "the sequence returned before the installer ended";
    EXPECT_GE(m_returnedMs, end + 900);
  }
}

// --- the entry counter ------------------------------------------------

TEST_F(InstallSequence, CountAtTheTopOfTheRangeEnds) {
  MakeFiles();
  AddInstaller("a.exe");
  WriteConfig(
      "[FILES]\r\ncount=4294967295\r\n"
      "F1_NAME=a.exe\r\nF1_TYPE=exe\r\nF1_PARA=/first\r\n"
      "F4294967295_NAME=a.exe\r\nF4294967295_TYPE=exe\r\nF4294967295_PARA=/top\r\n");
  // On a thread of its own, so a counter that wrapped round would fail the
  // test instead of hanging it.
  // A worker left behind after a failure uses only what it owns.
  OwnerWindow owner;
  const auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread worker([window = owner.get(), pkg = m_pkg, done] {
    instalio::RunInstallSequenceIn(window, pkg.c_str());
    *done = true;
  });
  const DWORD until = GetTickCount() + 20000;
  while (!*done && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(50);
  if (!*done) {
    worker.detach();
    FAIL() << "the sequence did not end";
  }
  worker.join();
  EXPECT_THAT(owner.TakeCommands(), ElementsAre(WPARAM{105}));
  EXPECT_THAT(m_log.Starts("/first"), SizeIs(1));
  EXPECT_THAT(m_log.Starts("/top"), SizeIs(1));
}

}  // namespace
