#include "PinBlock.h"

#include <cstring>

#include "HexDes.h"
#include "Wipe.h"

namespace keyfold {
namespace {

// The token derives the same block from the PIN it stores, so this key is
// fixed for every token.
const unsigned char kPinKey[8] = {'k', 'o', 'v', 'i', 'l', 'a', 'n', 't'};

unsigned FoldNibble(unsigned n) { return n < 10 ? n : n - 6; }

}  // namespace

void FoldPinDigits(const unsigned char* enciphered6, unsigned char* block6) {
  for (int i = 0; i < 6; ++i) {
    const unsigned e = enciphered6[i];
    block6[i] = static_cast<unsigned char>((FoldNibble(e >> 4) << 4) | FoldNibble(e & 0xF));
  }
}

void MakePinBlock(const char* pinText, unsigned char* block) {
  unsigned char plain[8] = {};
  std::memcpy(plain, pinText, strnlen(pinText, kPinMaxBytes));

  unsigned char enciphered[9] = {};
  EncipherBytes(plain, 8, enciphered, kPinKey);

  // E0 and E7 are dropped.
  FoldPinDigits(enciphered + 1, block);
  block[6] = 0;
  WipeSecret(plain, sizeof plain);
  WipeSecret(enciphered, sizeof enciphered);
}

}  // namespace keyfold
