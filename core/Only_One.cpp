#include "core/Only_One.h"

#include <windows.h>

namespace zelt {

void* OneMutex = nullptr;

bool JustOne(const std::string& name) {
  OneMutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!OneMutex) return false;
  return GetLastError() != ERROR_ALREADY_EXISTS;
}

void ReleaseOne() {
  if (OneMutex) {
    CloseHandle(OneMutex);
    OneMutex = nullptr;
  }
}

}  // namespace zelt
