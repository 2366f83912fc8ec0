// One owner per kind of handle the launcher holds, so that every early
// return releases what was acquired. Non-copyable; get() lends, release()
// gives up ownership.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

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

// COM for the calling thread; uninitialised only if this object's call
// took effect.
class ComApartment {
 public:
  ComApartment() : m_hr(CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }

 private:
  HRESULT m_hr;
};

// The shell's allocator and an item identifier list allocated by it. The
// list must be freed before the allocator is released, so it refers to its
// owner and is declared after it.
class ShellAllocator {
 public:
  ShellAllocator() {
    if (FAILED(SHGetMalloc(&m_p))) m_p = nullptr;
  }
  ShellAllocator(const ShellAllocator&) = delete;
  ShellAllocator& operator=(const ShellAllocator&) = delete;
  ~ShellAllocator() {
    if (m_p) m_p->Release();
  }
  IMalloc* get() const { return m_p; }

 private:
  IMalloc* m_p = nullptr;
};

class ItemIdList {
 public:
  explicit ItemIdList(IMalloc* owner) : m_owner(owner) {}
  ItemIdList(const ItemIdList&) = delete;
  ItemIdList& operator=(const ItemIdList&) = delete;
  ~ItemIdList() {
    if (m_p && m_owner) m_owner->Free(m_p);
  }
  LPITEMIDLIST* out() { return &m_p; }
  LPCITEMIDLIST get() const { return m_p; }

 private:
  IMalloc* m_owner;
  LPITEMIDLIST m_p = nullptr;
};

}  // namespace instalio
