// What needs a second process or a window: notifications for plugs done by
// tokensim.exe, the token lock across processes, concurrent trace appends,
// and the command line's answers to bad token folders.
#include <windows.h>

#include <dbt.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "TokensimFixture.h"

namespace tstest {
namespace {

using namespace tokensim;

using ProcessTest = BayTest;

std::string Exe() { return "\"" + JoinPath(ProgramFolder(), "tokensim.exe") + "\""; }

// A child process the test does not wait for.
class Child {
 public:
  explicit Child(const std::string& commandLine) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = commandLine;
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &si, &pi)) {
      process_.reset(pi.hProcess);
      CloseHandle(pi.hThread);
      pid_ = pi.dwProcessId;
    }
  }
  bool started() const { return process_.valid(); }
  DWORD pid() const { return pid_; }
  int Wait(DWORD ms = 30000) {
    if (WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<int>(code);
  }

 private:
  UniqueHandle process_;
  DWORD pid_ = 0;
};

struct Notice {
  WPARAM event;
  std::string name;
  DWORD size;
  DWORD type;
  double atMs;
};
std::vector<Notice>* g_notices = nullptr;
PFN_TK_UnregisterCardNotification g_unregisterInHandler = nullptr;

LRESULT CALLBACK NoticeProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DEVICECHANGE && g_notices && lp) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(lp);
    const auto* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
    Notice n{wp, reinterpret_cast<const char*>(bytes + 28), hdr->dbch_size, hdr->dbch_devicetype, NowMs()};
    // Keyfold lower-cases the name in place: the record must be writable.
    for (char* p = reinterpret_cast<char*>(lp) + 28; *p; ++p)
      if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    g_notices->push_back(n);
    if (g_unregisterInHandler) g_unregisterInHandler();
    return TRUE;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

class NoticeWindow {
 public:
  NoticeWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = NoticeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TokensimNoticeTest";
    RegisterClassA(&wc);
    // Message-only: nothing to show, and the watcher sends to it directly.
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            wc.hInstance, nullptr);
    error_ = GetLastError();
    g_notices = &notices;
  }
  ~NoticeWindow() {
    g_notices = nullptr;
    if (hwnd_) DestroyWindow(hwnd_);
  }
  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;
  HWND hwnd() const { return hwnd_; }
  DWORD error() const { return error_; }
  // Pumps messages until count notices arrived or ms passed.
  bool WaitFor(size_t count, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (notices.size() < count && static_cast<LONG>(end - GetTickCount()) > 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    return notices.size() >= count;
  }
  std::vector<Notice> notices;

 private:
  HWND hwnd_ = nullptr;
  DWORD error_ = 0;
};

double TraceTime(const std::vector<TraceRecord>& trace, const char* function, DWORD pid) {
  for (const TraceRecord& r : trace)
    if (r.function == function && (pid == 0 || r.pid == pid)) return r.timeMs;
  return -1;
}

TEST_F(ProcessTest, PlugAndUnplugByAnyProcessNotifyTheWindowQuickly) {
  TokenSettings already = MakeToken({0xF0, 0, 0, 1}, 0);
  ASSERT_EQ(Plug(already), kOk);  // present before registering: not notified
  Watch watch;
  ASSERT_TRUE(watch.Register && watch.Unregister);
  NoticeWindow window;
  ASSERT_NE(window.hwnd(), nullptr) << window.error();
  EXPECT_EQ(watch.Register(window.hwnd(), 1), 0);  // flags must be 0
  ASSERT_NE(watch.Register(window.hwnd(), 0), 0);

  TokenSettings t = MakeToken({0xF1, 0, 0, 1}, 1);
  t.devicePath = "\\\\?\\TKSIM#Vid_1D99&Pid_0001#F1000001#{Upper}";
  const std::string folder = bay_ + "-source";
  ASSERT_EQ(WriteTokenFolder(folder, t), kOk);
  Child plug(Exe() + " plug \"" + folder + "\"");
  ASSERT_TRUE(plug.started());
  ASSERT_TRUE(window.WaitFor(1, 3000));
  EXPECT_EQ(plug.Wait(), 0);
  Sleep(100);
  window.WaitFor(2, 0);
  ASSERT_EQ(window.notices.size(), 1u);  // the earlier token stays quiet
  const Notice arrival = window.notices[0];
  EXPECT_EQ(arrival.event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
  EXPECT_EQ(arrival.name, t.devicePath);  // as configured, upper case included
  EXPECT_EQ(arrival.type, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
  EXPECT_GE(arrival.size, 28 + t.devicePath.size() + 1);
  std::vector<TraceRecord> trace = Trace();
  const double plugged = TraceTime(trace, "plug", plug.pid());
  ASSERT_GT(plugged, 0);
  EXPECT_LT(arrival.atMs - plugged, 200.0);
  std::printf("arrival from another process handled %.1f ms after the plug\n", arrival.atMs - plugged);
  EXPECT_NE(watch.IsTKDevice(arrival.name.c_str()), 0);

  // Unplugged by this process's control library.
  ASSERT_EQ(Unplug("F1000001"), kOk);
  ASSERT_TRUE(window.WaitFor(2, 3000));
  const Notice removal = window.notices[1];
  EXPECT_EQ(removal.event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(removal.name, t.devicePath);
  trace = Trace();
  const double unplugged = TraceTime(trace, "unplug", GetCurrentProcessId());
  EXPECT_LT(removal.atMs - unplugged, 200.0);
  std::printf("removal handled %.1f ms after the unplug\n", removal.atMs - unplugged);

  // Out and in again between two looks of the watcher: both are told. The
  // watcher is held inside SendMessage (this thread does not answer) while
  // the token goes out and comes back.
  ASSERT_EQ(Plug(t), kOk);
  ASSERT_TRUE(window.WaitFor(3, 3000));
  ASSERT_EQ(Unplug(already.SerialName()), kOk);
  Sleep(200);
  ASSERT_EQ(Unplug("F1000001"), kOk);
  ASSERT_EQ(Plug(t), kOk);
  ASSERT_TRUE(window.WaitFor(6, 3000));
  EXPECT_EQ(window.notices[3].name, LowerAscii(already.DevicePath()));
  EXPECT_EQ(window.notices[4].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(window.notices[5].event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
  EXPECT_EQ(window.notices[5].name, t.devicePath);
  ASSERT_EQ(Unplug("F1000001"), kOk);
  ASSERT_TRUE(window.WaitFor(7, 3000));

  // After unregistering nothing more arrives.
  EXPECT_NE(watch.Unregister(), 0);
  ASSERT_EQ(Plug(t), kOk);
  EXPECT_FALSE(window.WaitFor(8, 300));
  DeleteTree(folder);
}

TEST_F(ProcessTest, UnregisteringInsideTheHandlerEndsNotifications) {
  Watch watch;
  NoticeWindow window;
  ASSERT_NE(window.hwnd(), nullptr) << window.error();
  ASSERT_NE(watch.Register(window.hwnd(), 0), 0);
  // The watcher is blocked in SendMessage while the handler runs; the
  // unregistration must not wait for it.
  g_unregisterInHandler = watch.Unregister;
  ASSERT_EQ(Plug(MakeToken({0xF2, 0, 0, 1}, 0)), kOk);
  ASSERT_EQ(Plug(MakeToken({0xF3, 0, 0, 1}, 1)), kOk);
  EXPECT_TRUE(window.WaitFor(1, 3000));
  g_unregisterInHandler = nullptr;
  EXPECT_FALSE(window.WaitFor(2, 300));
  ASSERT_EQ(UnplugAll(), kOk);
  EXPECT_FALSE(window.WaitFor(2, 300));
  // A new registration works again, for changes from then on.
  ASSERT_NE(watch.Register(window.hwnd(), 0), 0);
  ASSERT_EQ(Plug(MakeToken({0xF4, 0, 0, 1}, 2)), kOk);
  ASSERT_TRUE(window.WaitFor(2, 3000));
  EXPECT_EQ(window.notices[1].event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
  EXPECT_NE(watch.Unregister(), 0);
}

// The watcher runs inside TKWATCH.dll: a client that frees the library
// while notifications are on must not pull the code from under it. The
// watcher keeps its own reference until it has ended.
TEST_F(ProcessTest, WatcherKeepsItsLibraryUntilItEnds) {
  NoticeWindow window;
  ASSERT_NE(window.hwnd(), nullptr) << window.error();
  {
    Watch watch;
    ASSERT_NE(watch.Register(window.hwnd(), 0), 0);
  }  // the client's reference is gone here
  ASSERT_NE(GetModuleHandleA("TKWATCH.dll"), nullptr);
  ASSERT_EQ(Plug(MakeToken({0xF5, 0, 0, 1}, 0)), kOk);
  ASSERT_TRUE(window.WaitFor(1, 3000)) << "the watcher stopped with the client's reference";
  {
    Watch again;  // the same library, still loaded: its registration
    EXPECT_NE(again.Unregister(), 0);
  }
  bool unloaded = false;
  for (int i = 0; i < 100 && !unloaded; ++i) {
    unloaded = GetModuleHandleA("TKWATCH.dll") == nullptr;
    if (!unloaded) Sleep(10);
  }
  EXPECT_TRUE(unloaded) << "the ended watcher did not give its reference back";
}

TEST(Watch, IsTKDeviceKnowsOnlyTokensimPaths) {
  Watch watch;
  ASSERT_TRUE(watch.IsTKDevice);
  const struct {
    const char* name;
    bool token;
  } cases[] = {
      {"\\\\?\\tksim#vid_1d99&pid_0001#0abc00ff#{x}", true},
      {"\\\\?\\TKSIM#anything", true},
      {"\\\\?\\usb#vid_1d99&pid_0001#0abc00ff#{x}", false},
      {"\\\\?\\tksim", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(watch.IsTKDevice(c.name) != 0, c.token) << c.name;
  EXPECT_EQ(watch.IsTKDevice(nullptr), 0);
}

TEST_F(ProcessTest, TokenLockIsHeldAcrossProcesses) {
  Child holder(Exe() + " lock 700");
  ASSERT_TRUE(holder.started());
  // Wait until the other process holds the lock.
  double held = -1;
  for (int i = 0; i < 500 && held < 0; ++i) {
    held = TraceTime(Trace(), "TK_EnterMutex", holder.pid());
    if (held < 0) Sleep(10);
  }
  ASSERT_GT(held, 0);
  CspExt lock;
  const double start = NowMs();
  ASSERT_EQ(lock.Enter(), 0);
  const double waited = NowMs() - start;
  ASSERT_EQ(lock.Leave(), 0);
  EXPECT_EQ(holder.Wait(), 0);
  const std::vector<TraceRecord> trace = Trace();
  const double released = TraceTime(trace, "TK_LeaveMutex", holder.pid());
  const double mine = TraceTime(trace, "TK_EnterMutex", GetCurrentProcessId());
  EXPECT_GE(mine, released);  // we got it only after the holder let go
  EXPECT_GE(released - held, 650.0);
  EXPECT_GT(waited, 300.0);
}

TEST_F(ProcessTest, TokenLockIsRecursiveWithinAThread) {
  CspExt lock;
  ASSERT_EQ(lock.Enter(), 0);
  ASSERT_EQ(lock.Enter(), 0);
  ASSERT_EQ(lock.Leave(), 0);
  Child other(Exe() + " lock 0");
  ASSERT_TRUE(other.started());
  EXPECT_EQ(other.Wait(400), -1);  // still held once
  ASSERT_EQ(lock.Leave(), 0);
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(lock.Leave(), -1);
}

TEST_F(ProcessTest, ConcurrentAppendsKeepEveryLineWhole) {
  std::vector<Child> children;
  for (int i = 0; i < 3; ++i) children.emplace_back(Exe() + " lock 0");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i)
        AppendTrace("test", "append", i, 0x9000, Format("thread=%d i=%d pad=%0200d", t, i, i));
    });
  }
  for (std::thread& t : threads) t.join();
  for (Child& c : children) EXPECT_EQ(c.Wait(), 0);
  std::vector<TraceRecord> all;
  ASSERT_EQ(ReadTrace(all), kOk);  // every line parses
  int appends = 0, locks = 0;
  for (const TraceRecord& r : all) {
    appends += r.function == "append";
    locks += r.function == "TK_EnterMutex" || r.function == "TK_LeaveMutex";
  }
  EXPECT_EQ(appends, 400);
  EXPECT_EQ(locks, 6);
}

TEST_F(ProcessTest, CommandLinePlugsListsAndUnplugs) {
  const std::string folder = bay_ + "-cli";
  ASSERT_EQ(WriteTokenFolder(folder, MakeToken({0x0A, 0xBC, 0x00, 0xFF}, 2)), kOk);
  std::string out;
  EXPECT_EQ(RunProgram(Exe() + " plug \"" + folder + "\"", &out), 0) << out;
  EXPECT_EQ(RunProgram(Exe() + " plug \"" + folder + "\"", &out), 4) << out;
  EXPECT_EQ(RunProgram(Exe() + " list", &out), 0);
  EXPECT_NE(out.find("0ABC00FF  driver 2  tries 6/6"), std::string::npos) << out;
  EXPECT_EQ(RunProgram(Exe() + " fault 0abc00ff Read_Binary status=6A82 from=2", &out), 0) << out;
  PluggedToken t;
  ASSERT_EQ(ReadPlugged("0ABC00FF", t), kOk);
  ASSERT_EQ(t.settings.faults.size(), 1u);
  EXPECT_EQ(t.settings.faults[0].status, 0x6A82);
  EXPECT_EQ(t.settings.faults[0].from, 2);
  EXPECT_EQ(RunProgram(Exe() + " fault 0abc00ff No_Such_Call", &out), 1) << out;
  EXPECT_EQ(RunProgram(Exe() + " unplug 11223344", &out), 3) << out;
  EXPECT_EQ(RunProgram(Exe() + " unplug 0abc00ff", &out), 0) << out;
  EXPECT_EQ(RunProgram(Exe() + " trace", &out), 0);
  EXPECT_NE(out.find("\ttokensim\tplug\t"), std::string::npos) << out;
  EXPECT_EQ(RunProgram(Exe() + " trace --clear", &out), 0);
  EXPECT_EQ(RunProgram(Exe() + " bogus", &out), 1);
  DeleteTree(folder);
}

TEST_F(ProcessTest, CommandLineNamesWhatIsWrongWithAFolder) {
  const std::string good = "[token]\r\nserial = 01020304\r\npin = 1234\r\n";
  const struct {
    const char* what;
    std::string ini;
    const char* message;
  } cases[] = {
      {"no [token]", "[dir 0011]\r\n", "no [token] section"},
      {"no serial", "[token]\r\npin = 1234\r\n", "lacks the key 'serial'"},
      {"short serial", "[token]\r\nserial = 010203\r\npin = 1234\r\n", "line 2: key 'serial'"},
      {"driver 4", good + "driver = 4\r\n", "line 4: key 'driver': must be 0-3"},
      {"long PIN", "[token]\r\nserial = 01020304\r\npin = 123456789\r\n", "line 3: key 'pin'"},
      {"foreign path", good + "path = \\\\?\\usb#x\r\n", "line 4: key 'path': must start with"},
      {"unknown key", good + "colour = red\r\n", "line 4: key 'colour': unknown in [token]"},
      {"twice", good + "pin = 9999\r\n", "line 4: key 'pin': given twice"},
      {"no '='", good + "driver 2\r\n", "line 4: expected 'key = value'"},
      {"unknown section", good + "[dir 0013]\r\n", "line 4: unknown section [dir 0013]"},
      {"missing file", good + "[dir 0011]\r\ncertificate = nothere.der\r\n",
       "line 5: key 'certificate': cannot read file 'nothere.der'"},
      {"bad hex", good + "[dir 0012]\r\ncontainer.raw = hex:0G\r\n", "line 5: key 'container.raw'"},
      {"both forms", good + "[dir 0012]\r\ncontainer = a\r\ncontainer.raw = hex:0000\r\n",
       "line 6: key 'container.raw': the file is already given on line 5"},
      {"unknown fault", good + "[fault Read_Everything]\r\nfail = yes\r\n",
       "line 4: section [fault Read_Everything]"},
      {"idle fault", good + "[fault Read_Binary]\r\nfrom = 2\r\n",
       "line 4: [fault Read_Binary] sets none of"},
      {"tries", good + "tries = 3\r\ntries left = 5\r\n", "line 5: key 'tries left': is more than tries"},
  };
  const std::string folder = bay_ + "-bad";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteTree(folder);
    ASSERT_TRUE(CreateDirectories(folder));
    ASSERT_TRUE(WriteWholeFile(JoinPath(folder, "token.ini"), c.ini));
    std::string out;
    EXPECT_EQ(RunProgram(Exe() + " plug \"" + folder + "\"", &out), 2);
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
  std::string out;
  EXPECT_EQ(RunProgram(Exe() + " plug \"" + folder + "-none\"", &out), 2);
  EXPECT_NE(out.find("no token folder"), std::string::npos) << out;
  std::vector<PluggedToken> plugged;
  ListPlugged(plugged);
  EXPECT_TRUE(plugged.empty());
  DeleteTree(folder);
}

}  // namespace
}  // namespace tstest
