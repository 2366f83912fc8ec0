#pragma once

#include <cstddef>

namespace keyfold {

// Overwrites a buffer that held a secret. The volatile writes keep the
// compiler from dropping the stores as dead; this library stays free of
// platform calls, so SecureZeroMemory is not used here.
inline void WipeSecret(void* p, std::size_t n) {
  volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
  while (n--) *b++ = 0;
}

}  // namespace keyfold
