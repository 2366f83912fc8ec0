// Small Win32 helpers shared by the token libraries, the control library and
// tokensim.exe: handle owners, bounded formatting, whole-file I/O, clocks.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define TS_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define TS_PRINTF(f, a)
#endif

namespace tokensim {

// Owns a kernel handle; INVALID_HANDLE_VALUE and null both mean "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// Owns a FindFirstFile search.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE h) : h_(h) {}
  ~UniqueFind() {
    if (valid()) FindClose(h_);
  }
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HANDLE h_;
};

// Owns a library reference.
class UniqueModule {
 public:
  explicit UniqueModule(HMODULE m = nullptr) : m_(m) {}
  ~UniqueModule() {
    if (m_) FreeLibrary(m_);
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  HMODULE get() const { return m_; }
  HMODULE release() {
    HMODULE m = m_;
    m_ = nullptr;
    return m;
  }

 private:
  HMODULE m_;
};

// Holds a mutex from construction to destruction. An abandoned mutex is
// still ours: its previous owner died, the data it guards is whole files.
class MutexLock {
 public:
  explicit MutexLock(HANDLE mutex) : m_(mutex) {
    const DWORD w = m_ ? WaitForSingleObject(m_, INFINITE) : WAIT_FAILED;
    held_ = (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
  }
  ~MutexLock() {
    if (held_) ReleaseMutex(m_);
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE m_;
  bool held_ = false;
};

// Guards the state a library keeps in its own memory; every module that
// includes this has its own lock.
class ModuleLock {
 public:
  ModuleLock() { AcquireSRWLockExclusive(&s_lock); }
  ~ModuleLock() { ReleaseSRWLockExclusive(&s_lock); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;

 private:
  static inline SRWLOCK s_lock = SRWLOCK_INIT;
};

std::string Format(const char* fmt, ...) TS_PRINTF(1, 2);
std::string FormatV(const char* fmt, va_list ap);

std::string HexBytes(const unsigned char* p, size_t n);  // upper case, no blanks
std::string HexBytes(const std::vector<unsigned char>& v);
// Hex text with optional blanks between bytes; false on odd digits or junk.
bool ParseHex(const std::string& text, std::vector<unsigned char>& out);

std::string LowerAscii(std::string s);
bool EqualNoCase(const std::string& a, const std::string& b);

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& out);
// Writes through a temporary file and a rename, so readers in other
// processes see the old or the new content, never half of it.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);
bool WriteWholeFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool CreateDirectories(const std::string& path);
bool DeleteTree(const std::string& path);
std::vector<std::string> ListSubdirectories(const std::string& folder);  // names only, sorted
std::string JoinPath(const std::string& a, const std::string& b);
std::string FolderOfModule(HMODULE module);  // no trailing backslash
std::string EnvironmentValue(const char* name);

// Milliseconds on the machine-wide performance counter, so times written
// by different processes can be compared.
double NowMs();

// Object name safe part derived from a path (case-folded FNV-1a).
std::string NameHash(const std::string& path);

}  // namespace tokensim
