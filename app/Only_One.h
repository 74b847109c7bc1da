// The single-instance guard: a named kernel mutex held for the process's life.
#pragma once

#include <string>

#include "base/ScopedWin.h"

namespace zelt {

// The mutex handle; empty until JustOne has run. Closed at the very end.
extern TScopedHandle OneMutex;

// Creates the named mutex. False when it could not be created or already
// existed (another copy runs).
bool JustOne(const std::string& name);
// Closes the handle kept by JustOne.
void ReleaseOne();

}  // namespace zelt
