// The names the program, its patch and its installer must agree on, each
// written once. The installer takes them from here through CMake
// (cmake/ProductNames.cmake), and scripts/check-layers fails on a copy of
// one of them anywhere else in the product's code.
#pragma once

#include <cstddef>

namespace zelt {

// An ASCII name in the two forms the system's calls take: Narrow for the
// program's own text (cp1251) and the A calls, Wide for paths and the W calls.
template <size_t N>
struct TName {
  char Narrow[N]{};
  wchar_t Wide[N]{};
  consteval TName(const char (&text)[N]) {
    for (size_t i = 0; i < N; ++i) {
      if (static_cast<unsigned char>(text[i]) > 0x7F) throw "a shared name is ASCII";
      Narrow[i] = text[i];
      Wide[i] = static_cast<wchar_t>(text[i]);
    }
  }
};

// The single-instance mutex: one copy of the program runs; the patch and
// the installer wait for it to go.
inline constexpr TName kMutexName{"ZeltInformerMutex"};
// The class of the program's main window, by which the patch finds the
// running copies.
inline constexpr TName kMainWindowClass{"ZeltMainForm"};
// The program's file in its folder.
inline constexpr TName kProgramFileName{"ZeltInformer.exe"};
// The user's state beside the program; never part of a patch.
inline constexpr TName kDataFileName{"data.dat"};
// The downloaded patch's file name, and the start of the name of each
// folder under the temporary folder that a patch is staged in.
inline constexpr TName kPatchFileName{"sfx.exe"};
inline constexpr TName kPatchFolderPrefix{"ZeltUpdate-"};
// The patch's swap journal beside the program's files, which the program's
// start reads too, and the lock of the one swap at a time in a session.
inline constexpr TName kJournalFileName{"ZeltUpdate.journal"};
inline constexpr TName kPatchLockName{"Local\\ZeltRarazovoPatch"};

}  // namespace zelt
