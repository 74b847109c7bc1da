#include "app/Only_One.h"

#include <windows.h>

namespace zelt {

TScopedHandle OneMutex;

bool JustOne(const std::string& name) {
  OneMutex.reset(CreateMutexA(nullptr, FALSE, name.c_str()));
  if (!OneMutex) return false;
  return GetLastError() != ERROR_ALREADY_EXISTS;
}

void ReleaseOne() { OneMutex.reset(); }

}  // namespace zelt
