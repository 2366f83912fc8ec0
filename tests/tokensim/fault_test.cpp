// Injected faults and latency, counted per token across connections.
#include "TokensimFixture.h"

namespace tstest {
namespace {

using namespace tokensim;

using FaultTest = BayTest;

TEST_F(FaultTest, CommandFailsFromItsNthCallAcrossConnections) {
  ASSERT_EQ(Plug(MakeToken({0xE0, 0, 0, 1}, 0)), kOk);
  Fault f;
  f.function = "Read_Binary";
  f.result = 0;
  f.status = 0x6A82;
  f.from = 3;
  f.count = 2;
  ASSERT_EQ(SetFault("e0000001", f), kOk);
  const unsigned char d[] = {0x00, 0x11}, file[] = {0x00, 0x08};
  std::vector<unsigned short> seen;
  for (int connection = 0; connection < 3; ++connection) {
    CosApi api;  // a fresh library load each time, as Keyfold does
    const int h = api.Open(0);
    ASSERT_GT(h, 0);
    unsigned short sw = 0;
    unsigned char buf[128];
    api.Select(h, 1, 0, 2, d, &sw);
    api.Select(h, 2, 0, 2, file, &sw);
    for (int i = 0; i < 2; ++i) {
      sw = 0;
      EXPECT_EQ(api.Read(h, 0, 0, 0, 0, 2, buf, &sw), 0);
      seen.push_back(sw);
    }
    api.Close(h);
  }
  const std::vector<unsigned short> expected = {0x9000, 0x9000, 0x6A82, 0x6A82, 0x9000, 0x9000};
  EXPECT_EQ(seen, expected);
  int faulted = 0;
  for (const TraceRecord& r : Trace("Read_Binary")) faulted += r.Arg("fault") == "1";
  EXPECT_EQ(faulted, 2);
}

TEST_F(FaultTest, OpenResetAndCommandsFailAsConfigured) {
  struct Case {
    const char* function;
    int result;
    int status;
  };
  const Case cases[] = {{"TK_Open", 0, -1}, {"TK_OpenByPath", 0, -1}, {"TK_IC_RESET", -7, -1},
                        {"Select_File", -5, -1}, {"Verify_Pin", 0, 0x6581},
                        {"TK_GetDevicePath", -1, -1}, {"TK_GET_BCDSN", -2, -1},
                        {"TK_Close", -6, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    TokenSettings t = MakeToken({0xE1, 0, 0, 1}, 3);
    Fault f;
    f.function = c.function;
    f.result = c.result;
    f.status = c.status;
    t.faults.push_back(f);
    ASSERT_EQ(Plug(t), kOk);
    CosApi api;
    const std::string fn = c.function;
    if (fn == "TK_Open") {
      EXPECT_EQ(api.Open(3), 0);
      EXPECT_GT(api.OpenByPath(t.DevicePath().c_str()), 0);
    } else if (fn == "TK_OpenByPath") {
      EXPECT_EQ(api.OpenByPath(t.DevicePath().c_str()), 0);
      EXPECT_GT(api.Open(3), 0);
    } else {
      const int h = api.Open(3);
      ASSERT_GT(h, 0);
      unsigned char buf[256] = {};
      unsigned short sw = 0x1111;
      const unsigned char mf[] = {0x3F, 0x00};
      int got = 0;
      if (fn == "TK_IC_RESET") got = api.Reset(h, buf);
      if (fn == "Select_File") got = api.Select(h, 0, 0, 2, mf, &sw);
      if (fn == "Verify_Pin") got = api.VerifyPin(h, 0, 6, buf, &sw);
      if (fn == "TK_GetDevicePath") got = api.DevicePath(h, reinterpret_cast<char*>(buf), 256);
      if (fn == "TK_GET_BCDSN") got = api.Serial(h, buf);
      if (fn == "TK_Close") got = api.Close(h);  // fails, and the connection stays open
      EXPECT_EQ(got, c.result);
      if (fn == "Select_File") {
        EXPECT_EQ(sw, 0x6F00);  // a failed transfer has no card answer
      }
      if (fn == "Verify_Pin") {
        EXPECT_EQ(sw, 0x6581);
      }
      // Other commands are untouched.
      EXPECT_EQ(api.Reset(h, buf), fn == "TK_IC_RESET" ? c.result : 0);
      api.Close(h);
    }
    ASSERT_EQ(UnplugAll(), kOk);
  }
}

TEST_F(FaultTest, LatencySlowsTheCommand) {
  ASSERT_EQ(Plug(MakeToken({0xE2, 0, 0, 1}, 0)), kOk);
  ASSERT_EQ(SetLatency("E2000001", "Select_File", 60), kOk);
  CosApi api;
  const int h = api.Open(0);
  const unsigned char mf[] = {0x3F, 0x00};
  unsigned short sw = 0;
  const double start = NowMs();
  for (int i = 0; i < 3; ++i) api.Select(h, 0, 0, 2, mf, &sw);
  const double slow = NowMs() - start;
  EXPECT_EQ(sw, 0x9000);  // slow, not failing
  EXPECT_GE(slow, 170.0);
  ASSERT_EQ(ClearFaults("E2000001"), kOk);
  api.Close(h);
  CosApi again;
  const int h2 = again.Open(0);
  const double start2 = NowMs();
  for (int i = 0; i < 3; ++i) again.Select(h2, 0, 0, 2, mf, &sw);
  EXPECT_LT(NowMs() - start2, 150.0);
  again.Close(h2);
}

}  // namespace
}  // namespace tstest
