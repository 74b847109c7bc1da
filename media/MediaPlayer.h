// MediaPlayer: plays one multimedia file through the Media Control Interface.
// Every MCI command goes through one send step (Send) and from there through
// the player's link to MCI, which the program makes the system's and the
// tests a script that records the commands and answers them.
// Failures never raise and never show anything: they leave LastError (and for
// an open, LastErrorText) and the player without an open device.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <digitalv.h>

#include <functional>
#include <string>

namespace zelt {

// The one way into MCI, shaped like mciSendCommandA: device id, command,
// flags, parameter block.
using TMciSend = std::function<MCIERROR(MCIDEVICEID id, UINT msg, DWORD_PTR flags, DWORD_PTR params)>;

// Sends to the system's MCI. Parameter blocks are the A forms (cp1251 text);
// the open's file name and alias are carried over to UTF-16 as cp1251, so a
// Russian file name opens whatever the system's ANSI code page.
MCIERROR RealMciSend(MCIDEVICEID id, UINT msg, DWORD_PTR flags, DWORD_PTR params);

// How a player reaches MCI: where its commands go, and the window MCI
// reports the end of asynchronous commands to (the program's application
// queue window, whose MCI notices run MediaPlayer::DispatchNotify). Without
// a window, commands are sent without notice.
struct TMciLink {
  TMciSend Send = &RealMciSend;
  HWND NotifyWindow = nullptr;
};

class MediaPlayer {
 public:
  // The result of a command that could not be sent: no device is open.
  static constexpr DWORD kNotSent = static_cast<DWORD>(-1);
  // DeviceID while an open is under way.
  static constexpr MCIDEVICEID kOpening = static_cast<MCIDEVICEID>(-1);
  static constexpr const char* kFileMissingText = "Multimedia file does not exist";

  // Creates the player (no waiting, device type chosen by MCI, time format
  // milliseconds), adds it to the program-wide list and sets the file name,
  // which opens it when not empty. The display window is kept only when a
  // device was opened.
  explicit MediaPlayer(const std::string& fileName = std::string(), HWND display = nullptr, TMciLink link = {});
  // Destroy: waits for the close of the device, drops OnNotify, leaves the list.
  ~MediaPlayer();
  MediaPlayer(const MediaPlayer&) = delete;
  MediaPlayer& operator=(const MediaPlayer&) = delete;

  std::string FileName;        // the file the device plays; empty when none
  MCIDEVICEID DeviceID = 0;    // 0: no device open; kOpening during an open
  bool Wait = false;           // every command waits for MCI to finish it
  DWORD TimeFormat = MCI_FORMAT_MILLISECONDS;
  std::string Alias;           // MCI alias for the device; empty: none
  HWND Display = nullptr;      // output window for devices with video
  DWORD LastError = 0;         // MCI result of the last command, kNotSent if none was sent
  std::string LastErrorText;   // why the last open failed
  RECT DisplaySize{};          // source picture of a video device (0 × 0 otherwise)
  // Called when MCI reports the end of an asynchronous command, with the
  // notification code less 1.
  std::function<void(MediaPlayer& sender, int code)> OnNotify;

  // Closes the old device when the name changes, stores it and opens it when
  // not empty. True when a device is open afterwards.
  bool SetFileName(const std::string& name);
  // Opens a device for FileName; true when a device is open.
  bool Open();
  // Plays the open device from its beginning without waiting.
  void Play();
  // Stops the device without waiting; true when MCI accepted the command.
  bool Stop();
  // Closes the open device, waiting for MCI.
  void Close();

  // The handler of the application window's MCI notification: finds the
  // player of the device and raises its OnNotify with code − 1.
  static void DispatchNotify(WPARAM code, LPARAM deviceId);

 private:
  // The send step: refuses without a device, adds the wait flag when Wait is
  // set, drops the notify flag for waiting commands and when the application
  // has no window, names the application window as the callback otherwise.
  DWORD Send(UINT msg, DWORD flags, void* params);
  void QueryVideo();
  TMciLink link_;
};

}  // namespace zelt
