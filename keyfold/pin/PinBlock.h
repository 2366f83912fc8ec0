#pragma once

namespace keyfold {

constexpr int kPinBlockSize = 7;  // six digit bytes and a 0 byte
constexpr int kPinMaxBytes = 8;   // bytes of the PIN text that count

// Derives the block that the token's PIN command expects from the PIN text
// as typed (ANSI, counted in bytes): DES under a fixed key, the middle six
// enciphered bytes kept, every nibble folded into a decimal digit.
void MakePinBlock(const char* pinText, unsigned char* block);

// The fold alone: each nibble n of the six bytes becomes n (below 10) or
// n - 6, so the block reads as twelve decimal digits.
void FoldPinDigits(const unsigned char* enciphered6, unsigned char* block6);

}  // namespace keyfold
