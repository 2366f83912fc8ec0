// The launch list: section "FILES" of config.ini, read with the platform's
// profile functions.
#pragma once

#include <windows.h>

#include <vector>

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

  // The numbers from 1 to `last` whose entries have a name key in the
  // file, ascending. Entries without one have an empty name and are skipped
  // at once anyway, so walking only these gives the same sequence, while a
  // count far beyond the entries present (up to the top of the unsigned
  // range) ends as soon as the named entries are done.
  std::vector<UINT> NamedEntries(UINT last) const;

 private:
  char m_szPath[MAX_PATH];
};

}  // namespace instalio
