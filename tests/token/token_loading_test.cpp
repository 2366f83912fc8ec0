// Where the token libraries are loaded from, and what a missing library or
// function does. Each case copies token_probe.exe into a folder of its own
// with chosen libraries beside it, runs it with a chosen current directory
// and reads what it reports. token_planted.dll stands in for a DLL that someone
// dropped under a token library's name; it marks every load of itself.
#include <windows.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "token/TokenFixture.h"

namespace {

std::string BinFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path);
  return s.substr(0, s.find_last_of('\\'));
}

std::string ReadText(const std::string& path) {
  std::string text;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
  CloseHandle(f);
  return text;
}

void DeleteTree(const std::string& folder) {
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = d.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(h, &d));
    FindClose(h);
  }
  RemoveDirectoryA(folder.c_str());
}

struct Placed {
  const char* source;  // file in the build's bin folder
  const char* name;    // name it gets in the folder
};

class LoadingTest : public tokentest::TokenBay {
 protected:
  void SetUp() override {
    TokenBay::SetUp();
    Plug(DefaultToken());
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    m_root = std::string(temp) + "kf_token_loading_" + std::to_string(GetCurrentProcessId());
    DeleteTree(m_root);
    ASSERT_TRUE(CreateDirectoryA(m_root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((m_root + "\\app").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((m_root + "\\cwd").c_str(), nullptr));
    m_log = m_root + "\\planted.log";
    SetEnvironmentVariableA("KF_PLANTED_LOG", m_log.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("KF_PLANTED_LOG", nullptr);
    DeleteTree(m_root);
    TokenBay::TearDown();
  }

  void Place(const std::string& folder, const std::vector<Placed>& files) {
    for (const Placed& p : files)
      ASSERT_TRUE(CopyFileA((BinFolder() + "\\" + p.source).c_str(), (folder + "\\" + p.name).c_str(), FALSE))
          << p.source;
  }

  // Runs the probe from app with cwd as its current directory.
  std::map<std::string, int> RunProbe() {
    std::map<std::string, int> values;
    DeleteFileA(m_log.c_str());
    const std::string result = m_root + "\\result.txt";
    std::string command = "\"" + m_root + "\\app\\token_probe.exe\" \"" + result + "\" \"" + m_path + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, (m_root + "\\cwd").c_str(),
                        &si, &pi)) {
      ADD_FAILURE() << "cannot start the probe: " << GetLastError();
      return values;
    }
    const DWORD wait = WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(wait, WAIT_OBJECT_0);
    EXPECT_EQ(code, 0u);
    std::istringstream in(ReadText(result));
    std::string pair;
    while (in >> pair) {
      const size_t eq = pair.find('=');
      if (eq != std::string::npos) values[pair.substr(0, eq)] = std::stoi(pair.substr(eq + 1));
    }
    EXPECT_EQ(values.size(), 8u) << "probe said: " << ReadText(result);
    return values;
  }

  bool CardCommandsSent() {
    for (const auto& r : Trace())
      if (r.function == "TK_Open" || r.function == "TK_OpenByPath") return true;
    return false;
  }

  std::string m_root;
  std::string m_log;
};

const Placed kProbe{"token_probe.exe", "token_probe.exe"};
const Placed kRealCard{"tk_cosapi.dll", "tk_cosapi.dll"};
const Placed kRealLock{"tk_cspext.dll", "tk_cspext.dll"};
const Placed kRealWatch{"TKWATCH.dll", "TKWATCH.dll"};
const Placed kPlantedCard{"token_planted.dll", "tk_cosapi.dll"};
const Placed kPlantedLock{"token_planted.dll", "tk_cspext.dll"};
const Placed kPlantedWatch{"token_planted.dll", "TKWATCH.dll"};

void ExpectEveryOpenFailed(std::map<std::string, int>& v) {
  EXPECT_EQ(v["index"], -1000);
  EXPECT_EQ(v["path"], -1000);
  EXPECT_EQ(v["reader"], 0);
  EXPECT_EQ(v["serial"], -100);
  EXPECT_EQ(v["cosapi"], 0) << "tk_cosapi.dll left loaded";
}

// Libraries of the same names in the current directory are never loaded,
// and the program goes on without them as if they were missing.
TEST_F(LoadingTest, PlantedInCurrentDirectoryIsNotLoaded) {
  Place(m_root + "\\app", {kProbe});
  Place(m_root + "\\cwd", {kPlantedCard, kPlantedLock, kPlantedWatch});
  auto v = RunProbe();
  EXPECT_EQ(v["watch"], 0);
  EXPECT_EQ(v["lock"], 0);
  ExpectEveryOpenFailed(v);
  EXPECT_EQ(ReadText(m_log), "") << "a planted library was loaded";

  // With a usable lock the open goes as far as loading the card library.
  Place(m_root + "\\app", {kRealLock});
  v = RunProbe();
  EXPECT_EQ(v["lock"], 1);
  ExpectEveryOpenFailed(v);
  EXPECT_EQ(v["lockfree"], 1);
  EXPECT_EQ(ReadText(m_log), "") << "a planted library was loaded";

  // With the real libraries beside the program, those are the ones used.
  Place(m_root + "\\app", {kRealCard, kRealWatch});
  v = RunProbe();
  EXPECT_EQ(v["watch"], 1);
  EXPECT_EQ(v["lock"], 1);
  EXPECT_GT(v["index"], 0);
  EXPECT_GT(v["path"], 0);
  EXPECT_GT(v["reader"], 0);
  EXPECT_EQ(v["serial"], 12);
  EXPECT_EQ(v["cosapi"], 0);
  EXPECT_EQ(v["lockfree"], 1);
  EXPECT_EQ(ReadText(m_log), "");
}

// The same DLL beside the program is loaded (so the mark works); it lacks
// the card functions, so every open fails and unloads it again.
TEST_F(LoadingTest, CardLibraryWithoutItsFunctions) {
  Place(m_root + "\\app", {kProbe, kPlantedCard, kRealLock, kRealWatch});
  auto v = RunProbe();
  EXPECT_EQ(v["lock"], 1);
  ExpectEveryOpenFailed(v);
  EXPECT_EQ(v["lockfree"], 1);
  EXPECT_NE(ReadText(m_log).find("app\\tk_cosapi.dll"), std::string::npos);
}

// Each binding needs only its own names: a card library that lacks a name
// of the full binding fails every full open, while reader connections and
// the serial still work.
TEST_F(LoadingTest, CardLibraryLackingOneFullName) {
  Place(m_root + "\\app", {kProbe, {"token_partial.dll", "tk_cosapi.dll"}, kRealLock, kRealWatch});
  auto v = RunProbe();
  EXPECT_EQ(v["lock"], 1);
  EXPECT_EQ(v["index"], -1000);
  EXPECT_EQ(v["path"], -1000);
  EXPECT_GT(v["reader"], 0);
  EXPECT_EQ(v["serial"], 12);
  EXPECT_EQ(v["cosapi"], 0) << "tk_cosapi.dll left loaded";
  EXPECT_EQ(v["lockfree"], 1);
  // The full opens stopped at the binding: only reader connections reached the token.
  for (const auto& r : Trace())
    EXPECT_NE(r.function, "TK_Open") << "a full open went ahead without its whole binding";
}

TEST_F(LoadingTest, CardLibraryMissing) {
  Place(m_root + "\\app", {kProbe, kRealLock});
  auto v = RunProbe();
  EXPECT_EQ(v["lock"], 1);
  ExpectEveryOpenFailed(v);
  EXPECT_EQ(v["lockfree"], 1);
}

// Without a usable lock no open goes ahead: the card library is not even
// loaded, so no command reaches the token.
TEST_F(LoadingTest, LockLibraryMissingOrWithoutItsFunctions) {
  Place(m_root + "\\app", {kProbe, kRealCard, kRealWatch});
  auto v = RunProbe();
  EXPECT_EQ(v["watch"], 1);
  EXPECT_EQ(v["lock"], 0);
  ExpectEveryOpenFailed(v);
  EXPECT_FALSE(CardCommandsSent());

  Place(m_root + "\\app", {kPlantedLock});
  v = RunProbe();
  EXPECT_EQ(v["lock"], 0);
  ExpectEveryOpenFailed(v);
  EXPECT_FALSE(CardCommandsSent());
  EXPECT_NE(ReadText(m_log).find("app\\tk_cspext.dll"), std::string::npos);
}

}  // namespace
