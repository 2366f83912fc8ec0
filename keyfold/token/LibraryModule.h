// Loading the outside token libraries and owning their module handles.
#pragma once

#include <windows.h>

namespace keyfold {

// Owns one reference to a loaded library; non-copyable, movable.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE module) : m_hModule(module) {}
  ~UniqueModule() { reset(); }
  UniqueModule(UniqueModule&& other) noexcept : m_hModule(other.release()) {}
  UniqueModule& operator=(UniqueModule&& other) noexcept {
    if (this != &other) {
      reset();
      m_hModule = other.release();
    }
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;

  HMODULE get() const { return m_hModule; }
  explicit operator bool() const { return m_hModule != nullptr; }
  HMODULE release() {
    HMODULE m = m_hModule;
    m_hModule = nullptr;
    return m;
  }
  // Drops the reference. False when FreeLibrary refused; the handle is then
  // kept, so the owner still knows the library is loaded.
  bool reset() {
    if (m_hModule == nullptr) return true;
    if (!FreeLibrary(m_hModule)) return false;
    m_hModule = nullptr;
    return true;
  }

 private:
  HMODULE m_hModule = nullptr;
};

// Loads a token library by its file name from the program's own directory
// or the system directory only. The ordinary search would also try the
// current directory and PATH, where anyone can drop a DLL of the same name;
// SetDllDirectoryA("") does not stop that under Wine, the search flags do.
UniqueModule LoadTokenLibrary(const char* fileName);

// Binds one export by name into a typed function pointer.
template <class Fn>
bool BindExport(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(GetProcAddress(module, name));
  return fn != nullptr;
}

}  // namespace keyfold
