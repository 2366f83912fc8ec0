// A private tokensim bay with its trace switched on, one plugged token whose
// files the test chooses, and readers of what the libraries were asked.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/token/TokenLibraries.h"
#include "token/LockProbe.h"
#include "tokensim/Control.h"

namespace tokentest {

// A card file: the big-endian length field, then `stored` content bytes
// (by default as many as the field says) in a pattern that differs from
// offset to offset and from file to file.
inline std::vector<unsigned char> CardFileBytes(int lengthField, int stored = -1, int seed = 1) {
  if (stored < 0) stored = lengthField == 0xFFFF ? 0 : lengthField;
  std::vector<unsigned char> bytes{static_cast<unsigned char>(lengthField >> 8),
                                   static_cast<unsigned char>(lengthField & 0xFF)};
  for (int i = 0; i < stored; ++i) bytes.push_back(static_cast<unsigned char>(i * 7 + seed * 31 + 1));
  return bytes;
}

inline double NowMs() {
  LARGE_INTEGER f{}, c{};
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

class TokenBay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    tokensim::SetBayFolder(std::string(temp) + "kf_token_bay_" + std::to_string(GetCurrentProcessId()));
    // The lock functions are what LockIsFree takes the lock with.
    ASSERT_NE(keyfold::BindLockLibrary(), nullptr);
  }

  void SetUp() override {
    ASSERT_EQ(tokensim::ResetBay(), tokensim::kOk);
    ASSERT_EQ(tokensim::EnableTrace(true), tokensim::kOk);
  }
  void TearDown() override { tokensim::ResetBay(); }

  static tokensim::TokenSettings DefaultToken() {
    tokensim::TokenSettings s;
    s.serial = {0x0A, 0xBC, 0x00, 0xFF, 0x20, 0x26};
    s.driverIndex = 0;
    s.pin = "1234";
    return s;
  }

  // Plugs the token and remembers its path and serial name.
  void Plug(const tokensim::TokenSettings& token) {
    std::string error;
    ASSERT_EQ(tokensim::Plug(token, &error), tokensim::kOk) << error;
    m_path = token.DevicePath();
    m_serial = token.SerialName();
  }

  void Fault(const tokensim::Fault& f) { ASSERT_EQ(tokensim::SetFault(m_serial, f), tokensim::kOk); }

  void ClearTrace() { ASSERT_EQ(tokensim::ClearTrace(), tokensim::kOk); }

  // The records of one library, in order.
  static std::vector<tokensim::TraceRecord> Trace(const char* library = "tk_cosapi") {
    std::vector<tokensim::TraceRecord> all, out;
    EXPECT_EQ(tokensim::ReadTrace(all), tokensim::kOk);
    for (auto& r : all)
      if (r.library == library) out.push_back(r);
    return out;
  }

  static std::vector<std::string> Functions(const std::vector<tokensim::TraceRecord>& records) {
    std::vector<std::string> names;
    for (const auto& r : records) names.push_back(r.function);
    return names;
  }

  // Nothing of a connection may outlive it.
  static void ExpectNothingHeld() {
    EXPECT_TRUE(LockIsFree()) << "the token lock is still held";
    EXPECT_FALSE(CardLibraryLoaded()) << "tk_cosapi.dll is still loaded";
  }

  std::string m_path;
  std::string m_serial;
};

}  // namespace tokentest
