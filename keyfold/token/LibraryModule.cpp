#include "keyfold/token/LibraryModule.h"

#include <cstring>

namespace keyfold {
namespace {

// Joins folder and file name into path (MAX_PATH bytes); false if it does
// not fit.
bool JoinPath(char (&path)[MAX_PATH], const char* folder, std::size_t folderLength,
              const char* fileName) {
  const std::size_t nameLength = std::strlen(fileName);
  if (folderLength == 0 || folderLength + 1 + nameLength >= sizeof path) return false;
  std::memcpy(path, folder, folderLength);
  std::size_t at = folderLength;
  if (path[at - 1] != '\\' && path[at - 1] != '/') path[at++] = '\\';
  std::memcpy(path + at, fileName, nameLength + 1);
  return true;
}

// For a Windows 7 that lacks the search flags: the same two folders, named
// in full, so the search order never comes into play.
HMODULE LoadFromKnownFolders(const char* fileName) {
  char folder[MAX_PATH] = {};
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, folder, sizeof folder);
  if (n > 0 && n < sizeof folder) {
    char* slash = std::strrchr(folder, '\\');
    if (slash != nullptr && JoinPath(path, folder, static_cast<std::size_t>(slash - folder), fileName)) {
      HMODULE m = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (m != nullptr) return m;
    }
  }
  n = GetSystemDirectoryA(folder, sizeof folder);
  if (n > 0 && n < sizeof folder && JoinPath(path, folder, n, fileName))
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return nullptr;
}

}  // namespace

UniqueModule LoadTokenLibrary(const char* fileName) {
  if (fileName == nullptr || fileName[0] == '\0') return UniqueModule();
  HMODULE m = LoadLibraryExA(fileName, nullptr,
                             LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (m == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) m = LoadFromKnownFolders(fileName);
  return UniqueModule(m);
}

}  // namespace keyfold
