// The shell, path and COM functions the launcher uses, bound at run time
// from the system folder.
//
// Linking them in would make the loader resolve their libraries, and what
// those libraries pull in, before the program can restrict the search; the
// loader may then take a library planted in the folder the launcher was
// unpacked to (Wine does so for shlwapi's shcore). Bound here, they come
// from the system folder only. A function that cannot be bound fails the
// way its real counterpart does.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include "Handles.h"

namespace instalio {

class SystemLibraries {
 public:
  static const SystemLibraries& Get();

  BOOL PathFileExists(const char* path) const;
  BOOL PathRemoveFileSpec(char* path) const;
  void ShellOpen(const char* file, const char* parameters) const;
  HRESULT CoInitialize() const;
  void CoUninitialize() const;
  HRESULT SHGetMalloc(IMalloc** out) const;
  HRESULT SHGetSpecialFolderLocation(int folder, LPITEMIDLIST* out) const;
  BOOL SHGetPathFromIDList(LPCITEMIDLIST list, char* out) const;

 private:
  SystemLibraries();

  UniqueModule m_shlwapi;
  UniqueModule m_shell32;
  UniqueModule m_ole32;
  BOOL(WINAPI* m_pathFileExists)(LPCSTR) = nullptr;
  BOOL(WINAPI* m_pathRemoveFileSpec)(LPSTR) = nullptr;
  HINSTANCE(WINAPI* m_shellExecute)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) = nullptr;
  HRESULT(WINAPI* m_coInitialize)(LPVOID) = nullptr;
  void(WINAPI* m_coUninitialize)() = nullptr;
  HRESULT(WINAPI* m_shGetMalloc)(IMalloc**) = nullptr;
  HRESULT(WINAPI* m_shGetSpecialFolderLocation)(HWND, int, LPITEMIDLIST*) = nullptr;
  BOOL(WINAPI* m_shGetPathFromIDList)(LPCITEMIDLIST, LPSTR) = nullptr;
};

// COM for the calling thread; uninitialised only if this object's call
// took effect.
class ComApartment {
 public:
  ComApartment() : m_hr(SystemLibraries::Get().CoInitialize()) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(m_hr)) SystemLibraries::Get().CoUninitialize();
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
    if (FAILED(SystemLibraries::Get().SHGetMalloc(&m_p))) m_p = nullptr;
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
