// PIN check, tries kept in the bay across connections and library loads,
// and the key check that follows a verified PIN.
#include <cstring>

#include "TokensimFixture.h"
#include "keyfold/pin/PinBlock.h"

namespace tstest {
namespace {

using namespace tokensim;

using PinTest = BayTest;

// One open-verify-close, as Keyfold runs it: a fresh library load and
// connection every time. Returns the status word of Verify_Pin.
unsigned short VerifyOnce(const char* pin, int driver = 0) {
  CosApi api;
  const int h = api.Open(driver);
  if (h <= 0) return 0;
  unsigned char answer[128];
  api.Reset(h, answer);
  unsigned short sw = 0;
  const unsigned char mf[] = {0x3F, 0x00}, dir[] = {0x00, 0x12};
  api.Select(h, 0, 0, 2, mf, &sw);
  api.Select(h, 1, 0, 2, dir, &sw);
  unsigned char block[keyfold::kPinBlockSize];
  keyfold::MakePinBlock(pin, block);
  sw = 0;
  EXPECT_EQ(api.VerifyPin(h, 0, 6, block, &sw), 0);
  api.Close(h);
  return sw;
}

int TriesLeft(const std::string& serial) {
  PluggedToken t;
  return ReadPlugged(serial, t) == kOk ? t.triesLeft : -1;
}

TEST_F(PinTest, WrongPinCountsDownBlocksAndCorrectPinResets) {
  TokenSettings t = MakeToken({0xD0, 0, 0, 1}, 0, "123456");
  t.maxTries = 3;
  ASSERT_EQ(Plug(t), kOk);
  const struct {
    const char* pin;
    unsigned short status;
    int triesAfter;
  } steps[] = {
      {"123456", 0x9000, 3}, {"654321", 0x63C2, 2}, {"12345", 0x63C1, 1},
      {"123456", 0x9000, 3},  // success restores every try
      {"000000", 0x63C2, 2}, {"000000", 0x63C1, 1}, {"000000", 0x63C0, 0},
      {"123456", 0x6983, 0},  // blocked: even the right PIN is refused
      {"000000", 0x6983, 0},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(VerifyOnce(s.pin), s.status) << s.pin;
    EXPECT_EQ(TriesLeft("D0000001"), s.triesAfter) << s.pin;
  }
  // The state lives in the bay, so the command line sees it too.
  ASSERT_EQ(SetTriesLeft("D0000001", 2), kOk);
  EXPECT_EQ(VerifyOnce("123456"), 0x9000);
  EXPECT_EQ(SetTriesLeft("D0000001", 4), kErrArgument);
}

TEST_F(PinTest, PinOfNineBytesCountsItsFirstEight) {
  ASSERT_EQ(Plug(MakeToken({0xD1, 0, 0, 1}, 1, "12345678")), kOk);
  EXPECT_EQ(VerifyOnce("123456789", 1), 0x9000);
}

TEST_F(PinTest, VerifyPinChecksItsParameters) {
  ASSERT_EQ(Plug(MakeToken({0xD2, 0, 0, 1}, 0, "1234")), kOk);
  CosApi api;
  const int h = api.Open(0);
  unsigned char block[7];
  keyfold::MakePinBlock("1234", block);
  unsigned short sw = 0;
  EXPECT_EQ(api.VerifyPin(h, 0, 5, block, &sw), 0);
  EXPECT_EQ(sw, 0x6700);
  EXPECT_EQ(api.VerifyPin(h, 1, 6, block, &sw), 0);
  EXPECT_EQ(sw, 0x6A86);
  EXPECT_EQ(api.VerifyPin(h, 0, 6, nullptr, &sw), -3);
  EXPECT_EQ(TriesLeft("D2000001"), 6);  // none of these cost a try
  api.Close(h);
}

struct KeyCheck {
  unsigned short write = 0, challenge = 0, internal = 0, external = 0;
};

// Keyfold's key check in one directory, after an optional PIN check.
KeyCheck RunKeyCheck(CosApi& api, int h, const char* verifyPin, const char* recordPin) {
  KeyCheck k;
  unsigned short sw = 0;
  if (verifyPin) {
    unsigned char block[7];
    keyfold::MakePinBlock(verifyPin, block);
    api.VerifyPin(h, 0, 6, block, &sw);
  }
  unsigned char record[19] = {0x1C, 0x08, 0x00};
  std::memcpy(record + 3, recordPin, std::strlen(recordPin));
  api.WriteKey(h, 0x80, 1, 12, 19, record, &k.write);
  unsigned char challenge[8] = {};
  api.Challenge(h, 8, challenge, &k.challenge);
  unsigned char in[32] = {}, reply[32] = {};
  std::memcpy(in, challenge, 8);
  api.Internal(h, 8, in, reply, &k.internal);
  api.External(h, 7, reply, &k.external);
  return k;
}

TEST_F(PinTest, KeyCheckAcceptsOnlyTheTokensOwnPinRecord) {
  ASSERT_EQ(Plug(MakeToken({0xD3, 0, 0, 1}, 0, "2468")), kOk);
  CosApi api;
  const int h = api.Open(0);
  ASSERT_GT(h, 0);
  const unsigned char mf[] = {0x3F, 0x00}, d12[] = {0x00, 0x12}, d11[] = {0x00, 0x11};
  unsigned short sw = 0;
  for (const unsigned char* dir : {d12, d11}) {
    api.Select(h, 0, 0, 2, mf, &sw);
    api.Select(h, 1, 0, 2, dir, &sw);
    const KeyCheck good = RunKeyCheck(api, h, "2468", "2468");
    EXPECT_EQ(good.write, 0x9000);
    EXPECT_EQ(good.challenge, 0x9000);
    EXPECT_EQ(good.internal, 0x9000);
    EXPECT_EQ(good.external, 0x9000);
  }
  // The PIN passed, but the record carries another PIN.
  const KeyCheck wrongRecord = RunKeyCheck(api, h, "2468", "1357");
  EXPECT_EQ(wrongRecord.write, 0x9000);
  EXPECT_EQ(wrongRecord.external, 0x6982);

  // A replayed reply does not pass: every challenge is answered once.
  unsigned char goodRecord[19] = {0x1C, 0x08, 0x00, '2', '4', '6', '8'};
  api.WriteKey(h, 0x80, 1, 12, 19, goodRecord, &sw);
  ASSERT_EQ(sw, 0x9000);
  unsigned char challenge[8], in[32] = {}, reply[32] = {};
  api.Challenge(h, 8, challenge, &sw);
  std::memcpy(in, challenge, 8);
  api.Internal(h, 8, in, reply, &sw);
  api.External(h, 7, reply, &sw);
  EXPECT_EQ(sw, 0x9000);
  api.External(h, 7, reply, &sw);
  EXPECT_EQ(sw, 0x6985);
  api.Close(h);

  // Without a verified PIN the record is refused, and the rest cannot run.
  const int h2 = api.Open(0);
  const KeyCheck unverified = RunKeyCheck(api, h2, nullptr, "2468");
  EXPECT_EQ(unverified.write, 0x6982);
  EXPECT_EQ(unverified.internal, 0x6985);
  // A record that is not laid out as 0x1C 0x08 0x00, PIN, zeros.
  unsigned char block[7];
  keyfold::MakePinBlock("2468", block);
  api.VerifyPin(h2, 0, 6, block, &sw);
  unsigned char bad[19] = {0x1C, 0x08, 0x01, '2', '4', '6', '8'};
  api.WriteKey(h2, 0x80, 1, 12, 19, bad, &sw);
  EXPECT_EQ(sw, 0x6A80);
  api.WriteKey(h2, 0x80, 1, 12, 18, bad, &sw);
  EXPECT_EQ(sw, 0x6700);
  api.Close(h2);

  // Secrets stay out of the trace: no PIN text, block or record.
  unsigned char expected[7];
  keyfold::MakePinBlock("2468", expected);
  const std::string blockHex = HexBytes(expected, 6);
  for (const TraceRecord& r : Trace()) {
    EXPECT_EQ(r.args.find("2468"), std::string::npos) << r.function << " " << r.args;
    EXPECT_EQ(r.args.find(blockHex), std::string::npos) << r.function << " " << r.args;
  }
}

}  // namespace
}  // namespace tstest
