#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "keyfold/pin/PinBlock.h"

using namespace keyfold;

namespace {

std::string BlockHex(const char* pin) {
  unsigned char block[kPinBlockSize];
  std::memset(block, 0xEE, sizeof block);
  MakePinBlock(pin, block);
  EXPECT_EQ(block[6], 0) << pin;
  std::string hex;
  for (int i = 0; i < 6; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", block[i]);
    hex += two;
  }
  return hex;
}

}  // namespace

TEST(PinBlock, FoldsEveryNibbleIntoADigit) {
  const unsigned char enciphered[6] = {0x3C, 0xA9, 0xF0, 0x00, 0x7B, 0x5E};
  unsigned char block[6];
  FoldPinDigits(enciphered, block);
  const unsigned char expected[6] = {0x36, 0x49, 0x90, 0x00, 0x75, 0x58};
  EXPECT_EQ(0, std::memcmp(block, expected, 6));
}

TEST(PinBlock, FixedVectors) {
  // Computed once with an independent DES: the PIN zero-padded to 8 bytes,
  // enciphered under "kovilant", bytes 1..6 folded.
  struct {
    const char* pin;
    const char* block;
  } cases[] = {
      {"12", "528876447967"},
      {"1234", "630678770058"},
      {"123456", "981824979550"},
      {"12345678", "368386192349"},
      {"abcdefgh", "548984986185"},
      {"Pa$$w0rd", "757897659854"},
      {"00000000", "481237416439"},
      {"中文密码", "609914914785"},  // GBK: four characters, eight bytes
  };
  for (const auto& c : cases) EXPECT_EQ(BlockHex(c.pin), c.block) << c.pin;
}

TEST(PinBlock, OnlyTheFirstEightBytesCount) {
  EXPECT_EQ(BlockHex("123456789"), BlockHex("12345678"));
  EXPECT_EQ(BlockHex("12345678abcdefgh"), BlockHex("12345678"));
  // A double-byte PIN longer than eight bytes is cut at the byte, not the character.
  EXPECT_EQ(BlockHex("中文密码字"), BlockHex("中文密码"));
  EXPECT_NE(BlockHex("中文密"), BlockHex("中文密码"));
  EXPECT_EQ(std::strlen("中文密码"), 8u);
}

TEST(PinBlock, EveryNibbleIsADecimalDigitAndTheBlockIsStable) {
  std::mt19937 rng(42);
  for (int i = 0; i < 3000; ++i) {
    char pin[10] = {};
    const int len = 2 + static_cast<int>(rng() % 7);
    for (int j = 0; j < len; ++j) pin[j] = static_cast<char>(1 + rng() % 255);
    const std::string block = BlockHex(pin);
    for (char c : block) ASSERT_TRUE(c >= '0' && c <= '9') << block;
    ASSERT_EQ(block, BlockHex(pin));
  }
}
