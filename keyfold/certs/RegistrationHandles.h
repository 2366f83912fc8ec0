// Owners for the handles that store registration and its registry record
// use. Each is non-copyable, releases in its destructor, and hands its handle
// out with get() or gives it up with release().
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace keyfold {

template <typename Handle, typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle h) noexcept : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Handle{}; }
  Handle release() noexcept { return std::exchange(h_, Handle{}); }
  void reset(Handle h = Handle{}) noexcept {
    Handle old = std::exchange(h_, h);
    if (old != Handle{}) Traits::Close(old);
  }
  // For APIs that return the handle through an out parameter.
  Handle* put() noexcept {
    reset();
    return &h_;
  }

 private:
  Handle h_{};
};

struct RegKeyTraits {
  static void Close(HKEY h) noexcept { RegCloseKey(h); }
};
struct CertStoreTraits {
  static void Close(HCERTSTORE h) noexcept { CertCloseStore(h, 0); }
};
struct CertContextTraits {
  static void Close(PCCERT_CONTEXT c) noexcept { CertFreeCertificateContext(c); }
};

using UniqueRegKey = UniqueHandle<HKEY, RegKeyTraits>;
using UniqueCertStore = UniqueHandle<HCERTSTORE, CertStoreTraits>;
// CertEnumCertificatesInStore and CertDeleteCertificateFromStore free the
// context they are given: pass release(), never get(), to them.
using UniqueCertContext = UniqueHandle<PCCERT_CONTEXT, CertContextTraits>;

}  // namespace keyfold
