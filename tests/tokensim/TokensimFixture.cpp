#include "TokensimFixture.h"

namespace tstest {

using namespace tokensim;

std::vector<unsigned char> Pattern(size_t n, unsigned seed) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>((i * 7 + seed * 13 + i / 256) & 0xFF);
  return v;
}

std::vector<unsigned char> FakeCertificate(size_t n, unsigned seed) {
  std::vector<unsigned char> v = Pattern(n, seed);
  if (n) v[0] = 0x30;
  return v;
}

TokenSettings MakeToken(std::vector<unsigned char> serial, int driver, const std::string& pin) {
  TokenSettings t;
  t.serial = std::move(serial);
  t.driverIndex = driver;
  t.pin = pin;
  t.dir11.certificate = CardFile::Certificate(FakeCertificate(300, 1));
  t.dir11.container = CardFile::Text("container-one");
  t.dir12.certificate = CardFile::Certificate(FakeCertificate(129, 2));
  t.dir12.container = CardFile::Text("container-two");
  return t;
}

std::string ProgramFolder() { return FolderOfModule(nullptr); }

int RunProgram(const std::string& commandLine, std::string* output, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr;
  if (!CreatePipe(&readRaw, &writeRaw, &sa, 0)) return -1000;
  UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd.get();
  si.hStdError = writeEnd.get();
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = commandLine;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return -1001;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();
  std::string out;
  char buf[512];
  DWORD n = 0;
  while (ReadFile(readEnd.get(), buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 99);
    return -1002;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  if (output) *output = out;
  return static_cast<int>(code);
}

void BayTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name)
    if (c == '/' || c == '\\' || c == ':') c = '_';
  bay_ = JoinPath(JoinPath(temp, "tokensim-tests"), Format("%lu-%s", GetCurrentProcessId(), name.c_str()));
  DeleteTree(bay_);
  ASSERT_TRUE(CreateDirectories(bay_));
  SetBayFolder(bay_);
  ASSERT_EQ(BayFolder(), bay_);
  ASSERT_EQ(EnableTrace(true), kOk);
}

void BayTest::TearDown() {
  UnplugAll();
  DeleteTree(bay_);
}

std::vector<TraceRecord> BayTest::Trace(const std::string& function) {
  std::vector<TraceRecord> all, some;
  EXPECT_EQ(ReadTrace(all), kOk);
  for (TraceRecord& r : all)
    if (function.empty() || r.function == function) some.push_back(std::move(r));
  return some;
}

}  // namespace tstest
