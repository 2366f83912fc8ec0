// Full and reader connections against an emulated token: open failures,
// the lock around the closing pause, commands over an open connection, the
// serial text.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/token/TokenConnection.h"
#include "keyfold/token/TokenFiles.h"
#include "token/TokenFixture.h"

namespace {

using tokentest::CardLibraryLoaded;
using tokentest::LockIsFree;

class ConnectionTest : public tokentest::TokenBay {
 protected:
  void SetUp() override {
    TokenBay::SetUp();
    Plug(DefaultToken());
  }
  static tokensim::Fault Failing(const char* fn, int result, int from = 1) {
    tokensim::Fault f;
    f.function = fn;
    f.result = result;
    f.from = from;
    return f;
  }
  static const tokensim::TraceRecord* Find(const std::vector<tokensim::TraceRecord>& t, const char* fn) {
    for (const auto& r : t)
      if (r.function == fn) return &r;
    return nullptr;
  }
};

TEST_F(ConnectionTest, FullOpenFailsWithNothingHeld) {
  struct Case {
    const char* what;
    bool byIndex;
    int index;
    const char* fault;
  } const cases[] = {
      {"no token at the index", true, 3, nullptr},
      {"TK_Open gives 0", true, 0, "TK_Open"},
      {"no token at the path", false, 0, nullptr},
      {"TK_OpenByPath gives 0", false, 0, "TK_OpenByPath"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearTrace();
    tokensim::ClearFaults(m_serial);
    if (c.fault) Fault(Failing(c.fault, 0));
    const int rc = c.byIndex ? keyfold::OpenTokenByIndex(c.index)
                             : keyfold::OpenTokenByPath(c.fault ? m_path.c_str() : "\\\\?\\tksim#nobody");
    EXPECT_EQ(rc, -1000);
    const auto names = Functions(Trace());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], c.byIndex ? "TK_Open" : "TK_OpenByPath");
    ExpectNothingHeld();
    EXPECT_EQ(keyfold::FullConnectionCommands(rc), nullptr);
  }
}

TEST_F(ConnectionTest, ReaderOpenFailsWithNothingHeld) {
  struct Case {
    const char* what;
    const char* fault;
    int result;
    bool closes;
  } const cases[] = {
      {"no token", nullptr, 0, false},
      {"TK_OpenByPath gives 0", "TK_OpenByPath", 0, false},
      {"reset fails", "TK_IC_RESET", -1, true},
      {"reset gives 1", "TK_IC_RESET", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearTrace();
    tokensim::ClearFaults(m_serial);
    if (c.fault) Fault(Failing(c.fault, c.result));
    EXPECT_EQ(keyfold::OpenTokenReader(c.fault ? m_path.c_str() : "\\\\?\\tksim#nobody"), 0);
    const auto trace = Trace();
    const tokensim::TraceRecord* close = Find(trace, "TK_Close");
    EXPECT_EQ(close != nullptr, c.closes);
    if (close) {
      // The handle is closed before the lock is left.
      const auto lock = Trace("tk_cspext");
      ASSERT_FALSE(lock.empty());
      EXPECT_EQ(lock.back().function, "TK_LeaveMutex");
      EXPECT_LT(close->timeMs, lock.back().timeMs);
    }
    ExpectNothingHeld();
  }
}

TEST_F(ConnectionTest, FullConnectionSendsCommandsAndClosesCompletely) {
  const int h = keyfold::OpenTokenByIndex(0);
  ASSERT_GT(h, 0);
  EXPECT_FALSE(LockIsFree(200)) << "the lock must be held while the connection is open";
  EXPECT_TRUE(CardLibraryLoaded());
  const keyfold::TokenCommands* card = keyfold::FullConnectionCommands(h);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(keyfold::FullConnectionCommands(h + 1), nullptr);

  char path[256] = {};
  EXPECT_EQ(card->TK_GetDevicePath(h, path, sizeof path), 0);
  EXPECT_EQ(m_path, path);
  const unsigned char masterFile[2] = {0x3F, 0x00};
  unsigned short sw = 0;
  EXPECT_GE(card->Select_File(h, 0, 0, 2, masterFile, &sw), 0);
  EXPECT_EQ(sw, keyfold::kStatusOk);

  // Connections of one kind do not nest; the first stays usable.
  EXPECT_EQ(keyfold::OpenTokenByPath(m_path.c_str()), -1000);
  EXPECT_EQ(keyfold::FullConnectionCommands(h), card);
  // A reader connection beside it has its own hold on the library.
  const int reader = keyfold::OpenTokenReader(m_path.c_str());
  ASSERT_GT(reader, 0);
  EXPECT_EQ(keyfold::CloseTokenReader(reader), 0);
  EXPECT_TRUE(CardLibraryLoaded());
  sw = 0;
  EXPECT_GE(card->Select_File(h, 0, 0, 2, masterFile, &sw), 0);
  EXPECT_EQ(sw, keyfold::kStatusOk);

  EXPECT_EQ(keyfold::CloseToken(h), 1);
  EXPECT_EQ(keyfold::FullConnectionCommands(h), nullptr);
  ExpectNothingHeld();
  // The open's sequence: the lock, the token, the reset into 128 bytes.
  const auto names = Functions(Trace());
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 2),
            (std::vector<std::string>{"TK_Open", "TK_IC_RESET"}));
  EXPECT_EQ(keyfold::CloseToken(h), 1) << "a second close is harmless";
}

TEST_F(ConnectionTest, ScopedConnectionClosesOnEveryWayOut) {
  {
    auto token = keyfold::ScopedTokenConnection::OpenByPath(m_path.c_str());
    ASSERT_TRUE(token.is_open());
    EXPECT_EQ(token.result(), token.handle());
    ASSERT_NE(token.commands(), nullptr);
    unsigned char serial[64] = {};
    EXPECT_GE(token.commands()->TK_GET_BCDSN(token.handle(), serial), 0);
    EXPECT_EQ(serial[1], 0xBC);
  }
  ExpectNothingHeld();
  auto missing = keyfold::ScopedTokenConnection::OpenByIndex(2);
  EXPECT_FALSE(missing.is_open());
  EXPECT_EQ(missing.result(), -1000);
  EXPECT_EQ(missing.commands(), nullptr);
}

// The full close keeps the lock through its pause; the reader close leaves
// it first and pauses after.
TEST_F(ConnectionTest, ClosingPauseAndTheLock) {
  auto closeAndLeave = [this](double& closeAt, double& leaveAt) {
    const auto cos = Trace();
    const auto lock = Trace("tk_cspext");
    ASSERT_FALSE(cos.empty());
    ASSERT_FALSE(lock.empty());
    ASSERT_EQ(cos.back().function, "TK_Close");
    ASSERT_EQ(lock.back().function, "TK_LeaveMutex");
    closeAt = cos.back().timeMs;
    leaveAt = lock.back().timeMs;
  };
  double closeAt = 0, leaveAt = 0;

  const int full = keyfold::OpenTokenByPath(m_path.c_str());
  ASSERT_GT(full, 0);
  keyfold::CloseToken(full);
  closeAndLeave(closeAt, leaveAt);
  EXPECT_GE(leaveAt - closeAt, 99.0) << "full close must pause inside the lock";

  ClearTrace();
  const int reader = keyfold::OpenTokenReader(m_path.c_str());
  ASSERT_GT(reader, 0);
  EXPECT_EQ(keyfold::CloseTokenReader(reader), 0);
  const double returnedAt = tokentest::NowMs();
  closeAndLeave(closeAt, leaveAt);
  EXPECT_LT(leaveAt - closeAt, 50.0) << "reader close must leave the lock before its pause";
  EXPECT_GE(returnedAt - leaveAt, 99.0) << "reader close pauses after leaving the lock";
  ExpectNothingHeld();
}

// Whoever waits for the lock meets the library as the close left it: a full
// close unloads before it leaves the lock, a reader close leaves first and
// unloads after its pause. Both opens take the lock before the first card
// command.
struct LockWaiter {
  bool loaded = true;
  double enteredAt = 0;
};

DWORD WINAPI WaitForLockAndLook(void* param) {
  auto* waiter = static_cast<LockWaiter*>(param);
  const keyfold::LockFunctions* lock = keyfold::LockLibrary();
  if (lock == nullptr || lock->TK_EnterMutex() != 0) return 1;
  waiter->loaded = CardLibraryLoaded();
  waiter->enteredAt = tokentest::NowMs();
  lock->TK_LeaveMutex();
  return 0;
}

TEST_F(ConnectionTest, WhatTheNextLockHolderFinds) {
  struct Case {
    const char* what;
    bool full;
    bool loadedForNext;
  } const cases[] = {{"full connection", true, false}, {"reader connection", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearTrace();
    const int h = c.full ? keyfold::OpenTokenByPath(m_path.c_str()) : keyfold::OpenTokenReader(m_path.c_str());
    ASSERT_GT(h, 0);
    const auto cos = Trace();
    const auto lock = Trace("tk_cspext");
    ASSERT_FALSE(cos.empty());
    ASSERT_FALSE(lock.empty());
    EXPECT_EQ(lock.front().function, "TK_EnterMutex");
    EXPECT_LE(lock.front().timeMs, cos.front().timeMs) << "a card command went out before the lock was taken";

    LockWaiter waiter;
    HANDLE thread = CreateThread(nullptr, 0, WaitForLockAndLook, &waiter, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT)) << "the lock was not held";
    if (c.full)
      keyfold::CloseToken(h);
    else
      keyfold::CloseTokenReader(h);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(waiter.loaded, c.loadedForNext);
    ExpectNothingHeld();
  }
}

TEST_F(ConnectionTest, CloseTokenReaderWithoutItsConnection) {
  EXPECT_EQ(keyfold::CloseTokenReader(1234), 0) << "no reader binding loaded";
  const int reader = keyfold::OpenTokenReader(m_path.c_str());
  ASSERT_GT(reader, 0);
  EXPECT_EQ(keyfold::CloseTokenReader(reader + 1), -100);
  EXPECT_FALSE(LockIsFree(200));
  EXPECT_EQ(keyfold::CloseTokenReader(reader), 0);
  ExpectNothingHeld();

  // A close that the library refuses: -100 at once, without the pause, and
  // still nothing held.
  const int again = keyfold::OpenTokenReader(m_path.c_str());
  ASSERT_GT(again, 0);
  ASSERT_EQ(keyfold::ReaderConnectionCommands(again)->TK_Close(again), 0);
  const double start = tokentest::NowMs();
  EXPECT_EQ(keyfold::CloseTokenReader(again), -100);
  EXPECT_LT(tokentest::NowMs() - start, 80.0);
  ExpectNothingHeld();
}

// A close that the library refuses: the full close goes on as if it had
// worked (pause inside the lock, unload, 1); the reader close unloads at
// once and gives -100. Neither leaves anything held.
TEST_F(ConnectionTest, RefusedCloses) {
  Fault(Failing("TK_Close", -3));
  const int full = keyfold::OpenTokenByPath(m_path.c_str());
  ASSERT_GT(full, 0);
  EXPECT_EQ(keyfold::CloseToken(full), 1);
  EXPECT_EQ(keyfold::FullConnectionCommands(full), nullptr);
  // Read before ExpectNothingHeld, whose probe takes and leaves the lock too.
  const auto cos = Trace();
  const auto lock = Trace("tk_cspext");
  ASSERT_FALSE(cos.empty());
  ASSERT_FALSE(lock.empty());
  EXPECT_EQ(cos.back().function, "TK_Close");
  EXPECT_EQ(cos.back().result, -3);
  EXPECT_EQ(lock.back().function, "TK_LeaveMutex");
  EXPECT_GE(lock.back().timeMs - cos.back().timeMs, 99.0);
  ExpectNothingHeld();

  const int reader = keyfold::OpenTokenReader(m_path.c_str());
  ASSERT_GT(reader, 0);
  const double start = tokentest::NowMs();
  EXPECT_EQ(keyfold::CloseTokenReader(reader), -100);
  EXPECT_LT(tokentest::NowMs() - start, 80.0);
  EXPECT_EQ(keyfold::ReaderConnectionCommands(reader), nullptr);
  ExpectNothingHeld();
}

TEST_F(ConnectionTest, NotificationLibraryStaysBound) {
  const keyfold::WatchFunctions* watch = keyfold::BindWatchLibrary();
  ASSERT_NE(watch, nullptr);
  EXPECT_NE(watch->TK_RegisterCardNotification, nullptr);
  EXPECT_NE(watch->TK_UnregisterCardNotification, nullptr);
  EXPECT_NE(watch->TK_IsTKDevice, nullptr);
  EXPECT_EQ(keyfold::BindWatchLibrary(), watch);
  EXPECT_EQ(keyfold::WatchLibrary(), watch);
  EXPECT_NE(watch->TK_IsTKDevice(m_path.c_str()), 0);
  EXPECT_EQ(watch->TK_IsTKDevice("\\\\?\\usb#vid_046d&pid_c52b#0001"), 0);
}

TEST_F(ConnectionTest, SerialText) {
  char text[keyfold::kSerialTextSize];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(keyfold::FetchSerialText(m_path.c_str(), text), 12);
  EXPECT_STREQ(text, "0A BC 00 FF ");
  char label[keyfold::kSerialTextSize] = {};
  keyfold::MakeTokenLabel(text, label);
  EXPECT_STREQ(label, "TK:0ABC00FF");
  EXPECT_EQ(Functions(Trace()), (std::vector<std::string>{"TK_OpenByPath", "TK_IC_RESET", "TK_IC_RESET",
                                                          "TK_GET_BCDSN", "TK_Close"}));
  ExpectNothingHeld();

  // Only negative results fail the reset and the serial query.
  struct Positive {
    const char* what;
    const char* fault;
    int result;
    int from;
  } const positives[] = {{"reset gives 1", "TK_IC_RESET", 1, 2}, {"serial gives 5", "TK_GET_BCDSN", 5, 1}};
  for (const Positive& c : positives) {
    SCOPED_TRACE(c.what);
    tokensim::ClearFaults(m_serial);
    Fault(Failing(c.fault, c.result, c.from));
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(keyfold::FetchSerialText(m_path.c_str(), text), 12);
    ExpectNothingHeld();
  }

  struct Case {
    const char* what;
    const char* fault;
    int result;
    int from;
    bool closes;
  } const failures[] = {
      {"open", "TK_OpenByPath", 0, 1, false},
      {"reset", "TK_IC_RESET", -1, 2, true},
      {"serial", "TK_GET_BCDSN", -1, 1, true},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(c.what);
    tokensim::ClearFaults(m_serial);
    Fault(Failing(c.fault, c.result, c.from));
    ClearTrace();
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(keyfold::FetchSerialText(m_path.c_str(), text), -100);
    EXPECT_STREQ(text, "");
    const auto names = Functions(Trace());
    EXPECT_EQ(std::count(names.begin(), names.end(), "TK_Close"), c.closes ? 1 : 0);
    ExpectNothingHeld();
  }
}

TEST(FormatHexBytes, SpacedUpperCaseAndBounded) {
  const unsigned char bytes[] = {0x0A, 0xBC, 0x00, 0xFF};
  char text[13];
  EXPECT_EQ(keyfold::FormatHexBytes(bytes, text, 4), 12);
  EXPECT_STREQ(text, "0A BC 00 FF ");
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(keyfold::FormatHexBytes(bytes, small, 4), 6) << "only whole entries that fit";
  EXPECT_STREQ(small, "0A BC ");
  EXPECT_EQ(keyfold::FormatHexBytes(bytes, text, 0), 0);
  EXPECT_STREQ(text, "");
  char label[keyfold::kSerialTextSize];
  keyfold::MakeTokenLabel("", label);
  EXPECT_STREQ(label, "TK:") << "a failed serial read leaves the bare prefix";
}

}  // namespace
