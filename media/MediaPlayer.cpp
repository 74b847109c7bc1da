#include "media/MediaPlayer.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "base/Text_win.h"
#include "base/System_win.h"

namespace zelt {

namespace {
// winmm is loaded with the first sound, not with the program.
using SendCommandFn = MCIERROR WINAPI(MCIDEVICEID, UINT, DWORD_PTR, DWORD_PTR);
using ErrorStringFn = BOOL WINAPI(MCIERROR, LPSTR, UINT);
constexpr wchar_t kWinmm[] = L"winmm.dll";

// Some MCI drivers open their file through the system's ANSI code page (Wine's
// wave driver does): a name that code page cannot hold (a Russian name on a
// Western system) is handed over in its short form, which it can.
std::wstring OpenableName(const std::wstring& name) {
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0, nullptr, &lossy);
  if (!lossy) return name;
  wchar_t shortName[MAX_PATH];
  const DWORD n = GetShortPathNameW(name.c_str(), shortName, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(shortName, n) : name;
}
}  // namespace

MCIERROR RealMciSend(MCIDEVICEID id, UINT msg, DWORD_PTR flags, DWORD_PTR params) {
  static SendCommandFn* const sendA = SystemFunction<SendCommandFn>(kWinmm, "mciSendCommandA");
  static SendCommandFn* const sendW = SystemFunction<SendCommandFn>(kWinmm, "mciSendCommandW");
  if (!sendA || !sendW) return MCIERR_CANNOT_LOAD_DRIVER;
  if (msg != MCI_OPEN || params == 0) return sendA(id, msg, flags, params);
  // The open is the one command of ours that carries text. Carry it over to
  // UTF-16 ourselves: the A function would read cp1251 as the system's ANSI
  // code page and miss a Russian file name elsewhere.
  auto* a = reinterpret_cast<MCI_OPEN_PARMSA*>(params);
  std::wstring type, element, alias;
  MCI_OPEN_PARMSW w{};
  w.dwCallback = a->dwCallback;
  w.wDeviceID = a->wDeviceID;
  if ((flags & MCI_OPEN_TYPE) && !(flags & MCI_OPEN_TYPE_ID) && a->lpstrDeviceType) {
    type = Widen(a->lpstrDeviceType);
    w.lpstrDeviceType = type.c_str();
  } else {
    w.lpstrDeviceType = reinterpret_cast<LPCWSTR>(a->lpstrDeviceType);  // a device type id, or unused
  }
  if ((flags & MCI_OPEN_ELEMENT) && !(flags & MCI_OPEN_ELEMENT_ID) && a->lpstrElementName) {
    element = OpenableName(Widen(a->lpstrElementName));
    w.lpstrElementName = element.c_str();
  } else {
    w.lpstrElementName = reinterpret_cast<LPCWSTR>(a->lpstrElementName);
  }
  if ((flags & MCI_OPEN_ALIAS) && a->lpstrAlias) {
    alias = Widen(a->lpstrAlias);
    w.lpstrAlias = alias.c_str();
  }
  const MCIERROR r = sendW(id, MCI_OPEN, flags, reinterpret_cast<DWORD_PTR>(&w));
  a->wDeviceID = w.wDeviceID;
  return r;
}

namespace {

// The live players; exists from the first player's creation to the last one's end.
std::vector<MediaPlayer*>* g_players = nullptr;

bool FileExists(const std::string& path) {
  const DWORD attr = GetFileAttributesW(Widen(path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

// Keeps the system from asking about a missing disk while a file is looked
// up or opened: a sound that cannot play is never worth a dialog.
class TQuietErrors {
 public:
  TQuietErrors() { SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_); }
  ~TQuietErrors() { SetThreadErrorMode(old_, nullptr); }
  TQuietErrors(const TQuietErrors&) = delete;
  TQuietErrors& operator=(const TQuietErrors&) = delete;

 private:
  DWORD old_ = 0;
};

std::string MciErrorText(DWORD error) {
  static ErrorStringFn* const errorString = SystemFunction<ErrorStringFn>(kWinmm, "mciGetErrorStringA");
  char text[MAXERRORLENGTH] = {};
  if (errorString && errorString(error, text, sizeof(text))) return text;
  return "MCI error " + std::to_string(error);
}

}  // namespace

MediaPlayer::MediaPlayer(const std::string& fileName, HWND display, TMciLink link) : link_(std::move(link)) {
  if (!g_players) g_players = new std::vector<MediaPlayer*>;
  g_players->push_back(this);
  if (SetFileName(fileName)) Display = display;
}

MediaPlayer::~MediaPlayer() {
  Wait = true;
  OnNotify = nullptr;
  if (!g_players) return;
  auto it = std::find(g_players->begin(), g_players->end(), this);
  if (it == g_players->end()) return;
  Close();
  g_players->erase(it);
  if (g_players->empty()) {
    delete g_players;
    g_players = nullptr;
  }
}

DWORD MediaPlayer::Send(UINT msg, DWORD flags, void* params) {
  if (DeviceID == 0) {
    LastError = kNotSent;
    return LastError;
  }
  if (Wait) flags |= MCI_WAIT;
  const HWND callback = link_.NotifyWindow;
  if ((flags & MCI_WAIT) || !callback) flags &= ~static_cast<DWORD>(MCI_NOTIFY);
  // Every parameter block starts with the callback window.
  auto* generic = static_cast<MCI_GENERIC_PARMS*>(params);
  if (flags & MCI_NOTIFY) generic->dwCallback = reinterpret_cast<DWORD_PTR>(callback);
  // The open goes to no device yet: MCI hands out the id.
  const MCIDEVICEID target = msg == MCI_OPEN ? 0 : DeviceID;
  LastError = link_.Send(target, msg, flags, reinterpret_cast<DWORD_PTR>(params));
  return LastError;
}

bool MediaPlayer::SetFileName(const std::string& name) {
  if (name != FileName) Close();
  FileName = name;
  if (FileName.empty()) return DeviceID != 0;
  return Open();
}

bool MediaPlayer::Open() {
  if (DeviceID != 0) return true;
  LastErrorText.clear();
  TQuietErrors quiet;
  if (FileName.empty() || !FileExists(FileName)) {
    LastErrorText = kFileMissingText;
    return false;
  }

  MCI_OPEN_PARMSA open{};
  open.lpstrElementName = FileName.c_str();
  if (!Alias.empty()) open.lpstrAlias = Alias.c_str();
  open.dwCallback = reinterpret_cast<DWORD_PTR>(link_.NotifyWindow);
  DWORD flags = MCI_OPEN_ELEMENT | MCI_OPEN_SHAREABLE | MCI_NOTIFY;
  if (!Alias.empty()) flags |= MCI_OPEN_ALIAS;

  DeviceID = kOpening;
  if (Send(MCI_OPEN, flags, &open) != 0) {
    // Many devices cannot be shared; ask for one of our own.
    flags &= ~static_cast<DWORD>(MCI_OPEN_SHAREABLE);
    open.wDeviceID = 0;
    if (Send(MCI_OPEN, flags, &open) != 0) {
      DeviceID = 0;
      LastErrorText = MciErrorText(LastError);
      return false;
    }
  }
  DeviceID = open.wDeviceID;
  if (DeviceID == 0 || DeviceID == kOpening) {
    // MCI said yes but named no device: nothing we could close later.
    DeviceID = 0;
    LastErrorText = "MCI opened no device";
    return false;
  }

  QueryVideo();

  MCI_SET_PARMS set{};
  set.dwTimeFormat = TimeFormat;
  Send(MCI_SET, MCI_SET_TIME_FORMAT | MCI_WAIT, &set);
  // The device is open whatever the queries answered.
  return true;
}

void MediaPlayer::QueryVideo() {
  DisplaySize = RECT{};
  MCI_GETDEVCAPS_PARMS caps{};
  caps.dwItem = MCI_GETDEVCAPS_HAS_VIDEO;
  if (Send(MCI_GETDEVCAPS, MCI_GETDEVCAPS_ITEM | MCI_WAIT, &caps) != 0 || !caps.dwReturn) return;
  if (Display) {
    MCI_DGV_WINDOW_PARMSA window{};
    window.hWnd = Display;
    Send(MCI_WINDOW, MCI_DGV_WINDOW_HWND | MCI_WAIT, &window);
  }
  MCI_DGV_RECT_PARMS where{};
  if (Send(MCI_WHERE, MCI_DGV_WHERE_SOURCE | MCI_WAIT, &where) == 0) DisplaySize = where.rc;
}

void MediaPlayer::Play() {
  MCI_PLAY_PARMS play{};
  play.dwFrom = 0;
  Send(MCI_PLAY, MCI_NOTIFY | MCI_FROM, &play);
}

bool MediaPlayer::Stop() {
  MCI_GENERIC_PARMS stop{};
  return Send(MCI_STOP, MCI_NOTIFY, &stop) == 0;
}

void MediaPlayer::Close() {
  MCI_GENERIC_PARMS close{};
  const DWORD r = Send(MCI_CLOSE, MCI_WAIT, &close);
  // A device MCI no longer knows is gone too: keeping its id would make every
  // later open "succeed" on nothing, and no sound would ever play again.
  if (r == 0 || r == MCIERR_INVALID_DEVICE_ID) DeviceID = 0;
}

void MediaPlayer::DispatchNotify(WPARAM code, LPARAM deviceId) {
  if (!g_players || deviceId == 0) return;
  const auto id = static_cast<MCIDEVICEID>(deviceId);
  for (MediaPlayer* player : *g_players) {
    if (player->DeviceID != id) continue;
    // The handler may free the player (and the list): call a copy, so the
    // running handler outlives the player, and return right after it.
    if (auto handler = player->OnNotify) handler(*player, static_cast<int>(code) - 1);
    return;
  }
}

}  // namespace zelt
