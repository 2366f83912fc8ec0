#include "SystemLibraries.h"

#include <cstdio>

namespace instalio {
namespace {

HMODULE LoadSystemLibrary(const char* name) {
  if (HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // Systems without the restricted search flags: name the file in the
  // system folder and have its own imports looked up from there.
  char dir[MAX_PATH];
  const UINT n = GetSystemDirectoryA(dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return nullptr;
  char path[MAX_PATH];
  const int len = std::snprintf(path, sizeof path, "%s\\%s", dir, name);
  if (len < 0 || static_cast<size_t>(len) >= sizeof path) return nullptr;
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Fn>
void Bind(Fn& fn, const UniqueModule& module, const char* name) {
  fn = module ? reinterpret_cast<Fn>(GetProcAddress(module.get(), name)) : nullptr;
}

}  // namespace

const SystemLibraries& SystemLibraries::Get() {
  // Bound for the life of the process and never unloaded: when the wait
  // window ends the program, the worker may still be inside one of these
  // libraries while the process shuts down.
  static const SystemLibraries* const libraries = new SystemLibraries;
  return *libraries;
}

SystemLibraries::SystemLibraries()
    : m_shlwapi(LoadSystemLibrary("shlwapi.dll")),
      m_shell32(LoadSystemLibrary("shell32.dll")),
      m_ole32(LoadSystemLibrary("ole32.dll")) {
  Bind(m_pathFileExists, m_shlwapi, "PathFileExistsA");
  Bind(m_pathRemoveFileSpec, m_shlwapi, "PathRemoveFileSpecA");
  Bind(m_shellExecute, m_shell32, "ShellExecuteA");
  Bind(m_shGetMalloc, m_shell32, "SHGetMalloc");
  Bind(m_shGetSpecialFolderLocation, m_shell32, "SHGetSpecialFolderLocation");
  Bind(m_shGetPathFromIDList, m_shell32, "SHGetPathFromIDListA");
  Bind(m_coInitialize, m_ole32, "CoInitialize");
  Bind(m_coUninitialize, m_ole32, "CoUninitialize");
}

BOOL SystemLibraries::PathFileExists(const char* path) const {
  return m_pathFileExists ? m_pathFileExists(path) : FALSE;
}

BOOL SystemLibraries::PathRemoveFileSpec(char* path) const {
  return m_pathRemoveFileSpec ? m_pathRemoveFileSpec(path) : FALSE;
}

void SystemLibraries::ShellOpen(const char* file, const char* parameters) const {
  if (m_shellExecute) m_shellExecute(nullptr, "open", file, parameters, nullptr, SW_SHOWNORMAL);
}

HRESULT SystemLibraries::CoInitialize() const {
  return m_coInitialize ? m_coInitialize(nullptr) : E_NOTIMPL;
}

void SystemLibraries::CoUninitialize() const {
  if (m_coUninitialize) m_coUninitialize();
}

HRESULT SystemLibraries::SHGetMalloc(IMalloc** out) const {
  *out = nullptr;
  return m_shGetMalloc ? m_shGetMalloc(out) : E_NOTIMPL;
}

HRESULT SystemLibraries::SHGetSpecialFolderLocation(int folder, LPITEMIDLIST* out) const {
  *out = nullptr;
  return m_shGetSpecialFolderLocation ? m_shGetSpecialFolderLocation(nullptr, folder, out)
                                      : E_NOTIMPL;
}

BOOL SystemLibraries::SHGetPathFromIDList(LPCITEMIDLIST list, char* out) const {
  return m_shGetPathFromIDList ? m_shGetPathFromIDList(list, out) : FALSE;
}

}  // namespace instalio
