// One owner per kind of handle the launcher holds, so that every early
// return releases what was acquired. Non-copyable; get() lends, release()
// gives up ownership.
#pragma once

#include <windows.h>

namespace instalio {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : m_h(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = m_h;
    m_h = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr) {
    if (*this) CloseHandle(m_h);
    m_h = h;
  }

 private:
  HANDLE m_h = nullptr;
};

class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE h) : m_h(h) {}
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  ~UniqueModule() {
    if (m_h) FreeLibrary(m_h);
  }
  HMODULE get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }

 private:
  HMODULE m_h = nullptr;
};

class UniqueWindow {
 public:
  UniqueWindow() = default;
  explicit UniqueWindow(HWND h) : m_h(h) {}
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;
  ~UniqueWindow() {
    if (m_h) DestroyWindow(m_h);
  }
  HWND get() const { return m_h; }

 private:
  HWND m_h = nullptr;
};

}  // namespace instalio
