// One owner per handle type: non-copyable, movable, with get/release/reset.
// Every handle the framework or its users acquire lives in one of these,
// so an early return can never leak it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace kf {

template <class Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::type;

  UniqueHandle() = default;
  explicit UniqueHandle(pointer h) : m_h(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  pointer get() const { return m_h; }
  explicit operator bool() const { return Traits::IsValid(m_h); }
  pointer release() { return std::exchange(m_h, Traits::Invalid()); }
  void reset(pointer h = Traits::Invalid()) {
    pointer old = std::exchange(m_h, h);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // For APIs that return the handle through an out parameter.
  pointer* put() {
    reset();
    return &m_h;
  }

 private:
  pointer m_h = Traits::Invalid();
};

template <class T, BOOL(WINAPI* CloseFn)(T)>
struct NullInvalidTraits {
  using type = T;
  static constexpr T Invalid() { return nullptr; }
  static bool IsValid(T h) { return h != nullptr; }
  static void Close(T h) { CloseFn(h); }
};

// For close functions whose signature does not fit NullInvalidTraits.
template <class T, void (*CloseFn)(T)>
struct NullCloserTraits {
  using type = T;
  static constexpr T Invalid() { return nullptr; }
  static bool IsValid(T h) { return h != nullptr; }
  static void Close(T h) { CloseFn(h); }
};

inline void CloseRegKey(HKEY h) { ::RegCloseKey(h); }
inline void CloseCertStore(HCERTSTORE h) { ::CertCloseStore(h, 0); }
inline void FreeCertContext(PCCERT_CONTEXT c) { ::CertFreeCertificateContext(c); }

template <class T>
struct GdiTraits {
  using type = T;
  static constexpr T Invalid() { return nullptr; }
  static bool IsValid(T h) { return h != nullptr; }
  static void Close(T h) { ::DeleteObject(h); }
};

struct FileHandleTraits {
  using type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};

using UniqueMenu = UniqueHandle<NullInvalidTraits<HMENU, ::DestroyMenu>>;
using UniqueIcon = UniqueHandle<NullInvalidTraits<HICON, ::DestroyIcon>>;
using UniqueAccel = UniqueHandle<NullInvalidTraits<HACCEL, ::DestroyAcceleratorTable>>;
using UniqueHook = UniqueHandle<NullInvalidTraits<HHOOK, ::UnhookWindowsHookEx>>;
using UniqueKernelHandle = UniqueHandle<NullInvalidTraits<HANDLE, ::CloseHandle>>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueMemDC = UniqueHandle<NullInvalidTraits<HDC, ::DeleteDC>>;
using UniqueBitmap = UniqueHandle<GdiTraits<HBITMAP>>;
using UniqueFont = UniqueHandle<GdiTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiTraits<HBRUSH>>;
using UniqueRegKey = UniqueHandle<NullCloserTraits<HKEY, CloseRegKey>>;
using UniqueCertStore = UniqueHandle<NullCloserTraits<HCERTSTORE, CloseCertStore>>;
// CertEnumCertificatesInStore and CertDeleteCertificateFromStore free the
// context they are given: pass release(), never get(), to them.
using UniqueCertContext = UniqueHandle<NullCloserTraits<PCCERT_CONTEXT, FreeCertContext>>;

// A DC got with GetDC/GetWindowDC, released to the window it came from.
class WindowDC {
 public:
  explicit WindowDC(HWND hwnd, bool whole = false)
      : m_hwnd(hwnd), m_hdc(whole ? ::GetWindowDC(hwnd) : ::GetDC(hwnd)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() {
    if (m_hdc) ::ReleaseDC(m_hwnd, m_hdc);
  }
  HDC get() const { return m_hdc; }
  explicit operator bool() const { return m_hdc != nullptr; }

 private:
  HWND m_hwnd;
  HDC m_hdc;
};

// Selects a GDI object into a DC for one scope and puts the old one back.
class SelectObjectScope {
 public:
  SelectObjectScope(HDC hdc, HGDIOBJ obj) : m_hdc(hdc), m_old(::SelectObject(hdc, obj)) {}
  SelectObjectScope(const SelectObjectScope&) = delete;
  SelectObjectScope& operator=(const SelectObjectScope&) = delete;
  ~SelectObjectScope() {
    if (m_old && m_old != HGDI_ERROR) ::SelectObject(m_hdc, m_old);
  }
  bool ok() const { return m_old != nullptr && m_old != HGDI_ERROR; }

 private:
  HDC m_hdc;
  HGDIOBJ m_old;
};

}  // namespace kf
