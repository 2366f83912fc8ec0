#include "LaunchConfig.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace instalio {
namespace {

constexpr char kSection[] = "FILES";

// A key "F<n>_NAME" exactly as "F%u_NAME" writes it (any letter case, since
// the profile functions compare key names without regard to case): n in
// decimal without a leading zero and within the unsigned range.
std::optional<UINT> EntryNumberOfNameKey(const char* key) {
  if (*key != 'F' && *key != 'f') return std::nullopt;
  const char* p = key + 1;
  if (*p < '1' || *p > '9') return std::nullopt;
  unsigned long long n = 0;
  while (*p >= '0' && *p <= '9') {
    n = n * 10 + static_cast<unsigned>(*p - '0');
    if (n > 0xFFFFFFFFull) return std::nullopt;
    ++p;
  }
  if (lstrcmpiA(p, "_NAME") != 0) return std::nullopt;
  return static_cast<UINT>(n);
}

}  // namespace

LaunchConfig::LaunchConfig(const char* path) { lstrcpynA(m_szPath, path, MAX_PATH); }

UINT LaunchConfig::GetInt(const char* key, UINT def) const {
  return GetPrivateProfileIntA(kSection, key, static_cast<INT>(def), m_szPath);
}

void LaunchConfig::GetString(const char* key, char* out, DWORD size) const {
  if (size == 0) return;
  out[0] = '\0';
  GetPrivateProfileStringA(kSection, key, "", out, size, m_szPath);
  out[size - 1] = '\0';
}

void LaunchConfig::ReadEntry(UINT n, LaunchEntry& entry) const {
  entry = LaunchEntry{};
  char key[32];
  std::snprintf(key, sizeof key, "F%u_NAME", n);
  GetString(key, entry.name, sizeof entry.name);
  std::snprintf(key, sizeof key, "F%u_TYPE", n);
  GetString(key, entry.type, sizeof entry.type);
  std::snprintf(key, sizeof key, "F%u_PARA", n);
  GetString(key, entry.para, sizeof entry.para);
  std::snprintf(key, sizeof key, "F%u_WNDTITLE", n);
  GetString(key, entry.title, sizeof entry.title);
}

std::vector<UINT> LaunchConfig::NamedEntries(UINT last) const {
  // The key names of the section, each terminated, the list ended by an
  // empty name. A too small buffer is reported as its size minus two.
  std::vector<char> keys(4096);
  for (;;) {
    const DWORD got = GetPrivateProfileStringA(kSection, nullptr, "", keys.data(),
                                               static_cast<DWORD>(keys.size()), m_szPath);
    if (got + 2 < keys.size()) break;
    if (keys.size() >= (64u << 20)) break;  // read what fitted
    keys.assign(keys.size() * 4, '\0');
  }
  keys[keys.size() - 1] = keys[keys.size() - 2] = '\0';

  std::vector<UINT> entries;
  for (const char* key = keys.data(); *key; key += lstrlenA(key) + 1) {
    const std::optional<UINT> n = EntryNumberOfNameKey(key);
    if (n && *n <= last) entries.push_back(*n);
  }
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  return entries;
}

}  // namespace instalio
