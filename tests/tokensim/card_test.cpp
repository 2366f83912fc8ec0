// The card side of tk_cosapi.dll as a client sees it: connections, the file
// system, status words, and the trace of what was sent.
#include <cstring>

#include "TokensimFixture.h"

namespace tstest {
namespace {

using namespace tokensim;

using CardTest = BayTest;

TEST(Exports, EveryBoundNameExistsUndecorated) {
  const struct {
    const char* dll;
    std::vector<const char*> names;
  } libs[] = {
      {"TKWATCH.dll", {"TK_RegisterCardNotification", "TK_UnregisterCardNotification", "TK_IsTKDevice"}},
      {"tk_cspext.dll", {"TK_EnterMutex", "TK_LeaveMutex"}},
      {"tk_cosapi.dll",
       {"TK_Open", "TK_Close", "TK_IC_RESET", "Change_Pin", "Create_File", "External_Authentication",
        "Internal_Authentication", "Reload_Pin", "Get_Challenge", "Generate_Rsa_Key", "Read_Binary",
        "Rsa_Decrypt", "Rsa_Encrypt", "Select_File", "Update_Binary", "Verify_Pin", "Write_Key",
        "TK_GetDevicePath", "TK_GET_BCDSN", "TK_OpenByPath"}},
  };
  for (const auto& l : libs) {
    Library lib(l.dll);
    ASSERT_TRUE(lib.loaded()) << l.dll;
    for (const char* n : l.names) EXPECT_NE(lib.Get<FARPROC>(n), nullptr) << l.dll << "!" << n;
  }
}

TEST_F(CardTest, OpensByDriverIndexAndByPathInAnyCase) {
  TokenSettings a = MakeToken({0x0A, 0xBC, 0x00, 0xFF, 0x12, 0x34}, 0);
  TokenSettings b = MakeToken({0x11, 0x22, 0x33, 0x44}, 2);
  b.devicePath = "\\\\?\\TKSIM#Vid_1D99&Pid_0001#Mixed#{0}";
  ASSERT_EQ(Plug(a), kOk);
  ASSERT_EQ(Plug(b), kOk);

  CosApi api;
  ASSERT_TRUE(api.complete());
  EXPECT_EQ(api.Open(1), 0);
  EXPECT_EQ(api.Open(3), 0);

  const int h = api.Open(2);
  ASSERT_GT(h, 0);
  char path[256] = {};
  EXPECT_EQ(api.DevicePath(h, path, 256), 0);
  EXPECT_STREQ(path, b.devicePath.c_str());  // letter case as configured
  char tiny[8] = {};
  EXPECT_LT(api.DevicePath(h, tiny, 8), 0);
  EXPECT_EQ(api.Close(h), 0);
  EXPECT_EQ(api.Close(h), -1);

  const int byPath = api.OpenByPath(LowerAscii(b.devicePath).c_str());
  ASSERT_GT(byPath, 0);
  unsigned char serial[64] = {};
  EXPECT_GE(api.Serial(byPath, serial), 0);
  EXPECT_EQ(HexBytes(serial, 4), "11223344");
  EXPECT_EQ(api.Close(byPath), 0);

  const int first = api.OpenByPath(a.DevicePath().c_str());
  ASSERT_GT(first, 0);
  unsigned char answer[64] = {};
  EXPECT_EQ(api.Reset(first, answer), 0);
  std::memset(serial, 0, sizeof serial);
  EXPECT_GE(api.Serial(first, serial), 0);
  EXPECT_EQ(HexBytes(serial, 6), "0ABC00FF1234");  // BCD form: every serial byte
  EXPECT_EQ(api.Close(first), 0);
  EXPECT_EQ(api.OpenByPath("\\\\?\\tksim#nothing"), 0);
  EXPECT_EQ(api.OpenByPath(nullptr), 0);
}

TEST_F(CardTest, PlugRefusesClashesAndUnplugEndsConnections) {
  ASSERT_EQ(Plug(MakeToken({1, 2, 3, 4}, 0)), kOk);
  std::string error;
  EXPECT_EQ(Plug(MakeToken({1, 2, 3, 4}, 1), &error), kErrConflict);
  EXPECT_EQ(Plug(MakeToken({9, 2, 3, 4}, 0), &error), kErrConflict);
  EXPECT_NE(error.find("driver index"), std::string::npos) << error;

  // A fifth token has no driver index: reachable by path only.
  TokenSettings fifth = MakeToken({5, 5, 5, 5}, kNoDriverIndex);
  ASSERT_EQ(Plug(fifth), kOk);
  ASSERT_EQ(Plug(MakeToken({6, 6, 6, 6}, kNoDriverIndex)), kOk);
  CosApi api;
  const int byPath = api.OpenByPath(fifth.DevicePath().c_str());
  EXPECT_GT(byPath, 0);
  EXPECT_EQ(api.Close(byPath), 0);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(api.Open(i), 0);
  EXPECT_EQ(api.Open(kNoDriverIndex), 0) << "a token without a driver index answers no index";

  const int h = api.Open(0);
  ASSERT_GT(h, 0);
  ASSERT_EQ(Unplug("01020304"), kOk);
  EXPECT_EQ(Unplug("01020304"), kErrNotFound);
  unsigned short sw = 0x1234;
  const unsigned char mf[] = {0x3F, 0x00};
  EXPECT_EQ(api.Select(h, 0, 0, 2, mf, &sw), -2);  // the token is gone
  EXPECT_EQ(api.Open(0), 0);
  // Plugged in again it is a new device: the old handle stays dead.
  ASSERT_EQ(Plug(MakeToken({1, 2, 3, 4}, 0)), kOk);
  EXPECT_EQ(api.Select(h, 0, 0, 2, mf, &sw), -2);
  const int again = api.Open(0);
  ASSERT_GT(again, 0);
  sw = 0;
  EXPECT_EQ(api.Select(again, 0, 0, 2, mf, &sw), 0);
  EXPECT_EQ(sw, 0x9000);
  EXPECT_EQ(api.Close(again), 0);
  EXPECT_EQ(api.Close(h), 0);
}

// Reads a file the way Keyfold's readers do: a 2-byte length, then chunks
// of 128 bytes from file offset p + 2.
struct ReadOutcome {
  int length = -1;
  std::vector<unsigned char> content;
  std::vector<unsigned short> statuses;
};

ReadOutcome ReadLikeKeyfold(CosApi& api, int h, int dir, int file) {
  ReadOutcome out;
  unsigned short sw = 0;
  const unsigned char d[] = {static_cast<unsigned char>(dir >> 8), static_cast<unsigned char>(dir)};
  const unsigned char f[] = {static_cast<unsigned char>(file >> 8), static_cast<unsigned char>(file)};
  unsigned char answer[64];
  if (api.Reset(h, answer) != 0) return out;
  if (api.Select(h, 1, 0, 2, d, &sw) < 0 || sw != 0x9000) return out;
  if (api.Select(h, 2, 0, 2, f, &sw) < 0 || sw != 0x9000) return out;
  unsigned char len[2] = {};
  if (api.Read(h, 0, 0, 0, 0, 2, len, &sw) < 0 || sw != 0x9000) return out;
  out.length = len[0] * 256 + len[1];
  if (out.length == 0xFFFF) return out;
  out.content.resize(static_cast<size_t>(out.length));
  for (int p = 0; p < out.length; p += 128) {
    const int n = out.length - p < 128 ? out.length - p : 128;
    api.Read(h, 0, (p + 2) >> 8, (p + 2) & 0xFF, 0, n, out.content.data() + p, &sw);
    out.statuses.push_back(sw);
  }
  return out;
}

TEST_F(CardTest, FilesReadInChunksAtOffsets) {
  const size_t sizes[] = {0, 1, 128, 129, 300, 4096};
  CosApi api;
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    TokenSettings t = MakeToken({0xA0, 0, 0, 1}, 0);
    t.dir12.certificate = CardFile::Certificate(FakeCertificate(size, 5));
    t.dir12.container = CardFile::Text("名称 container");  // GBK bytes, kept as they are
    ASSERT_EQ(Plug(t), kOk);
    ASSERT_EQ(ClearTrace(), kOk);
    const int h = api.Open(0);
    ASSERT_GT(h, 0);
    ReadOutcome cert = ReadLikeKeyfold(api, h, 0x0012, 0x0008);
    EXPECT_EQ(cert.length, static_cast<int>(size));
    EXPECT_EQ(cert.content, t.dir12.certificate.payload);
    for (unsigned short sw : cert.statuses) EXPECT_EQ(sw, 0x9000);
    ReadOutcome name = ReadLikeKeyfold(api, h, 0x0012, 0x000F);
    EXPECT_EQ(std::string(name.content.begin(), name.content.end()), "名称 container");
    EXPECT_EQ(api.Close(h), 0);

    // The trace names the offsets and sizes that were asked for.
    std::vector<std::string> reads;
    for (const TraceRecord& r : Trace("Read_Binary"))
      if (reads.size() < 1 + (size + 127) / 128) reads.push_back(r.Arg("offset") + "/" + r.Arg("count"));
    std::vector<std::string> expected = {"0000/2"};
    for (size_t p = 0; p < size; p += 128)
      expected.push_back(Format("%04X/%u", static_cast<unsigned>(p + 2),
                                static_cast<unsigned>(size - p < 128 ? size - p : 128)));
    EXPECT_EQ(reads, expected);
    ASSERT_EQ(UnplugAll(), kOk);
  }
}

TEST_F(CardTest, StatusWordsAsACardGivesThem) {
  TokenSettings t = MakeToken({0xB0, 0, 0, 1}, 0);
  t.dir12 = CardDirectory();
  t.dir12.present = false;                                   // no second directory
  t.dir11.container = CardFile::Raw({0xFF, 0xFF});           // an empty file
  ASSERT_EQ(Plug(t), kOk);
  CosApi api;
  const int h = api.Open(0);
  ASSERT_GT(h, 0);
  const unsigned char mf[] = {0x3F, 0x00}, d11[] = {0x00, 0x11}, d12[] = {0x00, 0x12},
                      cert[] = {0x00, 0x08}, ctr[] = {0x00, 0x0F}, bad[] = {0x00, 0x09};
  unsigned char buf[256];
  unsigned short sw = 0;
  struct Step {
    const char* what;
    int (*run)(CosApi&, int, unsigned short*, unsigned char*);
    unsigned short expected;
  };
  // Each step runs on the selection state the steps before it left.
  static const unsigned char* s_mf = mf;
  static const unsigned char* s_d11 = d11;
  static const unsigned char* s_d12 = d12;
  static const unsigned char* s_cert = cert;
  static const unsigned char* s_ctr = ctr;
  static const unsigned char* s_bad = bad;
  const Step steps[] = {
      {"read before any file", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 0, 0, 0, 2, b, s); }, 0x6986},
      {"file in the master file", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 2, 0, 2, s_cert, s); }, 0x6A82},
      {"missing directory", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 1, 0, 2, s_d12, s); }, 0x6A82},
      {"wrong id length", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 1, 0, 1, s_d11, s); }, 0x6700},
      {"unknown mode", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 3, 0, 2, s_d11, s); }, 0x6A86},
      {"directory", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 1, 0, 2, s_d11, s); }, 0x9000},
      {"directory from a directory", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 1, 0, 2, s_d11, s); }, 0x6A82},
      {"missing file", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 2, 0, 2, s_bad, s); }, 0x6A82},
      {"certificate file", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 2, 0, 2, s_cert, s); }, 0x9000},
      {"count 0", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 0, 0, 0, 0, b, s); }, 0x6700},
      {"count 129", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 0, 0, 0, 129, b, s); }, 0x6700},
      {"past the end", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 1, 0x2E, 0, 1, b, s); }, 0x6B00},
      {"over the end", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 1, 0x20, 0, 128, b, s); }, 0x6282},
      {"last byte", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 1, 0x2D, 0, 1, b, s); }, 0x9000},
      {"key container file", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 2, 0, 2, s_ctr, s); }, 0x9000},
      {"empty file's length", [](CosApi& a, int h, unsigned short* s, unsigned char* b) { return a.Read(h, 0, 0, 0, 0, 2, b, s); }, 0x9000},
      {"master file", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 0, 0, 2, s_mf, s); }, 0x9000},
      {"not the master file", [](CosApi& a, int h, unsigned short* s, unsigned char*) { return a.Select(h, 0, 0, 2, s_d11, s); }, 0x6A82},
  };
  for (const Step& s : steps) {
    sw = 0;
    EXPECT_EQ(s.run(api, h, &sw, buf), 0) << s.what;
    EXPECT_EQ(sw, s.expected) << s.what << Format(": got %04X", sw);
    if (std::strcmp(s.what, "empty file's length") == 0) {
      EXPECT_EQ(buf[0], 0xFF);
      EXPECT_EQ(buf[1], 0xFF);
    }
    if (std::strcmp(s.what, "last byte") == 0) {
      EXPECT_EQ(buf[0], t.dir11.certificate.payload[299]);
    }
  }
  EXPECT_EQ(api.Read(h, 0, 0, 0, 0, 2, nullptr, &sw), -3);
  EXPECT_EQ(api.Read(h + 1000, 0, 0, 0, 0, 2, buf, &sw), -1);
  EXPECT_EQ(api.Close(h), 0);
}

TEST_F(CardTest, UnimplementedCommandsAnswerInstructionNotSupported) {
  ASSERT_EQ(Plug(MakeToken({0xB1, 0, 0, 1}, 0)), kOk);
  Library lib("tk_cosapi.dll");
  auto update = lib.Get<PFN_Update_Binary>("Update_Binary");
  auto change = lib.Get<PFN_Change_Pin>("Change_Pin");
  auto reload = lib.Get<PFN_Reload_Pin>("Reload_Pin");
  auto create = lib.Get<PFN_Create_File>("Create_File");
  auto generate = lib.Get<PFN_Generate_Rsa_Key>("Generate_Rsa_Key");
  auto encrypt = lib.Get<PFN_Rsa_Encrypt>("Rsa_Encrypt");
  auto decrypt = lib.Get<PFN_Rsa_Decrypt>("Rsa_Decrypt");
  auto open = lib.Get<PFN_TK_Open>("TK_Open");
  auto close = lib.Get<PFN_TK_Close>("TK_Close");
  const int h = open(0);
  ASSERT_GT(h, 0);
  unsigned char in[256] = {}, out[256] = {};
  unsigned short sw[7] = {};
  EXPECT_EQ(update(h, 0, 0, 4, in, &sw[0]), 0);
  EXPECT_EQ(change(h, 6, in, in, &sw[1]), 0);
  EXPECT_EQ(reload(h, 6, in, &sw[2]), 0);
  EXPECT_EQ(create(h, in, 16, &sw[3]), 0);
  EXPECT_EQ(generate(h, 1024, &sw[4]), 0);
  EXPECT_EQ(encrypt(h, 16, in, out, &sw[5]), 0);
  EXPECT_EQ(decrypt(h, 16, in, out, &sw[6]), 0);
  for (unsigned short s : sw) EXPECT_EQ(s, 0x6D00);
  EXPECT_EQ(Trace("Rsa_Decrypt").size(), 1u);
  EXPECT_EQ(close(h), 0);
}

// Callers' text lands in the trace (paths, names); a line break or tab in
// it must not split a record, or no later record could be read.
TEST_F(CardTest, TraceKeepsOneLinePerCallWhateverTheCallerPasses) {
  CosApi api;
  Watch watch;
  EXPECT_EQ(api.OpenByPath("\\\\?\\tksim#a\r\nb\tc"), 0);
  EXPECT_EQ(watch.IsTKDevice("\\\\?\\tksim#x\ny"), 1);
  std::vector<TraceRecord> all;
  ASSERT_EQ(ReadTrace(all), kOk);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].function, "TK_OpenByPath");
  EXPECT_EQ(all[0].Arg("path"), "\\\\?\\tksim#a??b?c");
  EXPECT_EQ(all[1].function, "TK_IsTKDevice");
  EXPECT_EQ(all[1].Arg("name"), "\\\\?\\tksim#x?y");
}

TEST_F(CardTest, TraceListsCallsInOrderWithTheirProcess) {
  ASSERT_EQ(Plug(MakeToken({0xC0, 0, 0, 1}, 1)), kOk);
  ASSERT_EQ(ClearTrace(), kOk);
  {
    CspExt lock;
    CosApi api;
    ASSERT_EQ(lock.Enter(), 0);
    const int h = api.Open(1);
    unsigned char answer[128];
    api.Reset(h, answer);
    unsigned short sw = 0;
    const unsigned char d[] = {0x00, 0x12};
    api.Select(h, 1, 0, 2, d, &sw);
    api.Close(h);
    Sleep(30);
    ASSERT_EQ(lock.Leave(), 0);
    EXPECT_EQ(lock.Leave(), -1);  // not held any more
  }
  const std::vector<TraceRecord> all = Trace();
  std::vector<std::string> calls;
  for (const TraceRecord& r : all) calls.push_back(r.library + "!" + r.function);
  const std::vector<std::string> expected = {
      "tk_cspext!TK_EnterMutex", "tk_cosapi!TK_Open", "tk_cosapi!TK_IC_RESET",
      "tk_cosapi!Select_File",   "tk_cosapi!TK_Close", "tk_cspext!TK_LeaveMutex",
      "tk_cspext!TK_LeaveMutex"};
  ASSERT_EQ(calls, expected);
  EXPECT_EQ(all[1].Arg("index"), "1");
  EXPECT_EQ(all[1].Arg("serial"), "C0000001");
  EXPECT_GT(all[1].result, 0);
  EXPECT_EQ(all[3].Arg("mode"), "1");
  EXPECT_EQ(all[3].Arg("id"), "0012");
  EXPECT_EQ(all[3].status, 0x9000);
  EXPECT_EQ(all[5].result, 0);
  EXPECT_EQ(all[6].result, -1);
  for (const TraceRecord& r : all) EXPECT_EQ(r.pid, GetCurrentProcessId());
  for (size_t i = 1; i < all.size(); ++i) EXPECT_GE(all[i].timeMs, all[i - 1].timeMs);
  EXPECT_GE(all[5].timeMs - all[0].timeMs, 25.0);  // how long the lock was held

  ASSERT_EQ(EnableTrace(false), kOk);
  CosApi api;
  api.Close(api.Open(1));
  EXPECT_EQ(Trace().size(), all.size());
}

}  // namespace
}  // namespace tstest
