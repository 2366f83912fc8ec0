#include "Win32.h"

#include <algorithm>
#include <cstdio>

namespace tokensim {

std::string FormatV(const char* fmt, va_list ap) {
  char small[256];
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = FormatV(fmt, ap);
  va_end(ap);
  return s;
}

std::string HexBytes(const unsigned char* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 0xF]);
  }
  return s;
}

std::string HexBytes(const std::vector<unsigned char>& v) { return HexBytes(v.data(), v.size()); }

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& text, std::vector<unsigned char>& out) {
  out.clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return false;  // a blank inside a byte
      continue;
    }
    const int d = HexDigit(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<unsigned char>(high * 16 + d));
      high = -1;
    }
  }
  return high < 0;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& out) {
  out.clear();
  UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.get(), &size) || size.QuadPart > 64 * 1024 * 1024) return false;
  out.resize(static_cast<size_t>(size.QuadPart));
  DWORD done = 0;
  if (!out.empty() &&
      (!ReadFile(f.get(), out.data(), static_cast<DWORD>(out.size()), &done, nullptr) ||
       done != out.size()))
    return false;
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
  const std::string temp = Format("%s.%lu.%lu.tmp", path.c_str(), GetCurrentProcessId(),
                                  GetCurrentThreadId());
  {
    UniqueHandle f(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return false;
    DWORD done = 0;
    if (size && (!WriteFile(f.get(), data, static_cast<DWORD>(size), &done, nullptr) ||
                 done != size)) {
      f.reset();
      DeleteFileA(temp.c_str());
      return false;
    }
  }
  if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
  return WriteWholeFile(path, text.data(), text.size());
}

bool FileExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  const size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':' &&
      !CreateDirectories(path.substr(0, cut)))
    return false;
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool DeleteTree(const std::string& path) {
  if (!DirectoryExists(path)) return !FileExists(path) || DeleteFileA(path.c_str());
  WIN32_FIND_DATAA fd;
  {
    UniqueFind find(FindFirstFileA(JoinPath(path, "*").c_str(), &fd));
    if (find.valid()) {
      do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string child = JoinPath(path, name);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          DeleteTree(child);
        else
          DeleteFileA(child.c_str());
      } while (FindNextFileA(find.get(), &fd));
    }
  }
  return RemoveDirectoryA(path.c_str()) != 0;
}

std::vector<std::string> ListSubdirectories(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(JoinPath(folder, "*").c_str(), &fd));
  if (!find.valid()) return names;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::string name = fd.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    }
  } while (FindNextFileA(find.get(), &fd));
  std::sort(names.begin(), names.end());
  return names;
}

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (a.back() == '\\' || a.back() == '/') return a + b;
  return a + "\\" + b;
}

std::string FolderOfModule(HMODULE module) {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::string s(path, n);
  const size_t cut = s.find_last_of("\\/");
  return cut == std::string::npos ? std::string(".") : s.substr(0, cut);
}

std::string EnvironmentValue(const char* name) {
  char small[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) return std::string();
  if (n < sizeof small) return std::string(small, n);
  std::string big(n, '\0');
  n = GetEnvironmentVariableA(name, big.data(), static_cast<DWORD>(big.size()));
  big.resize(n < big.size() ? n : 0);
  return big;
}

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / frequency;
}

std::string NameHash(const std::string& path) {
  unsigned long h = 2166136261UL;
  for (char c : LowerAscii(path)) {
    if (c == '/') c = '\\';
    h = (h ^ static_cast<unsigned char>(c)) * 16777619UL;
    h &= 0xFFFFFFFFUL;
  }
  return Format("%08lX", h);
}

}  // namespace tokensim
