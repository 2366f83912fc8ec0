// The launch list: section "FILES" of config.ini, read with the platform's
// profile functions.
#pragma once

#include <windows.h>

#include <optional>

namespace instalio {

// Buffer sizes of one entry's values; longer values are cut to fit.
constexpr DWORD kNameSize = 64;
constexpr DWORD kTypeSize = 24;
constexpr DWORD kParaSize = 499;
constexpr DWORD kTitleSize = 500;

struct LaunchEntry {
  char name[kNameSize];
  char type[kTypeSize];
  char para[kParaSize];
  char title[kTitleSize];
};

class LaunchConfig {
 public:
  explicit LaunchConfig(const char* path);

  UINT GetInt(const char* key, UINT def) const;
  // Missing keys read as the empty text; the result is always terminated.
  void GetString(const char* key, char* out, DWORD size) const;

  // Entry n, every value cleared first.
  void ReadEntry(UINT n, LaunchEntry& entry) const;

  // The lowest entry number above `after`, at most `last`, that has a name
  // key in the file. Entries without one have an empty name and are skipped
  // at once anyway, so walking only these gives the same sequence while a
  // huge count ends as soon as the named entries are done.
  std::optional<UINT> NextNamedEntry(UINT after, UINT last) const;

 private:
  char m_szPath[MAX_PATH];
};

}  // namespace instalio
