// What a side window is made with: the kinds of side window the main window
// opens, the package the update windows hand on, and the program around a
// window, in one value that every side window's constructor takes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/HttpTransport.h"

namespace zelt {

class TApplication;
class TChecker;

// The side windows, by the kind ShowDialog opens.
enum class TDialogKind : int32_t { Sounds = 1, Settings, Favorites, UpdateInfo, Traffic, About, Download };
inline constexpr int kDialogKinds = 7;

// The package "Загрузить" fetches.
enum class TUpdateChoice : int32_t { Patch = 0, FullSetup = 1 };

struct TWindowContext {
  HWND Owner;
  // The application window and its title, the GUI queue of the requests.
  TApplication& App;
  // The window reads the checker through its views and changes it through
  // its commands.
  TChecker& Checker;
  // The transport of the update windows' requests.
  SharedTransport Http;
  // Scheme and host of the update server, no trailing "/".
  std::string UpdateUrl;
  // The raw public key (X then Y) that update manifests must be signed
  // with; empty when the build has none, and then no download is offered.
  std::string UpdateKey;
  // The package the download window fetches.
  TUpdateChoice Choice = TUpdateChoice::Patch;
  // Opens another side window modally (the main window's ShowDialog).
  std::function<void(TDialogKind kind)> Open;
  // Opens the download window for the chosen package.
  std::function<void(TUpdateChoice choice)> OpenDownload;
};

}  // namespace zelt
