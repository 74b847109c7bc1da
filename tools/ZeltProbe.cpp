// A small Win32 helper for the end-to-end tests: it broadcasts the instance
// messages and watches what a running copy of the program broadcasts.
//   ZeltProbe find [pumpMs]   broadcast ZELTI_FIND, print "HERE <count>"
//   ZeltProbe halt            broadcast ZELTI_HALT
//   ZeltProbe watch <ms>      print "MSG <name>" for each instance message seen
//   ZeltProbe hang <ms>       own a top-level window that stops answering
// A hostile peer on the same desktop:
//   ZeltProbe peer <n> [pumpMs]   broadcast ZELTI_FIND and answer every ZELTI_HERE
//                                 with another FIND, sent from inside the HERE
//                                 (at most n in all); print "HERE <count>"
//   ZeltProbe stall <k> <ms>      own k windows that each take ms to handle a
//                                 ZELTI_HERE, then broadcast ZELTI_FIND: a copy
//                                 answering it is held that long per window.
//                                 Prints "STALL" at the first HERE, "DONE" at the end
//   ZeltProbe flood TARGET <seed> post every message from WM_APP to WM_APP+32
//                                 with random parameters to every window of the
//                                 process owning TARGET (hidden and message-only
//                                 ones included), and broadcast them; "FLOOD <n>"
//   ZeltProbe forge TARGET <ms>   for ms, send and post to every window of the
//                                 program's classes in the process owning TARGET
//                                 (their controls and message-only ones included)
//                                 a WM_NCCREATE, WM_NOTIFY, WM_DRAWITEM and
//                                 WM_DPICHANGED pointing nowhere, and WM_TIMER
//                                 with every small id; "FORGED <rounds> windows=<n>"
//   ZeltProbe chase <ms>          broadcast ZELTI_FIND, then post one after every
//                                 ZELTI_HERE and every 100 ms for ms; print
//                                 "HERE <count>" (the answers within ms)
// Looking at and pressing the program's windows (texts as hex of UTF-8, a
// window as "class:NAME" or "title:HEX"):
//   ZeltProbe ui-list <window>            print "WIN"/"CTL" lines for the window and its controls
//   ZeltProbe ui-click <window> <hex> [prefix]  press the control with that text (or text start)
//   ZeltProbe ui-clickat <window> <x> <y> press the control at that client point
//   ZeltProbe ui-boxes                    print "BOX <captionHex> <textHex>" per message box
//   ZeltProbe ui-okbox <hex>              press OK in the message boxes with that caption
// Driving a running program and reading its figures (TARGET is a top-level
// window class such as ZeltMainForm; with several windows of the class the
// first visible, enabled one that is not a tool window is taken):
//   ZeltProbe key TARGET VK [count [gapMs]]   post WM_KEYDOWN + WM_KEYUP
//   ZeltProbe post TARGET MSG WPARAM LPARAM [CHILDCLASS]
//                                              post any message (to the first
//                                              descendant of CHILDCLASS when given)
//   ZeltProbe rows TARGET                      the rows of its first list view
//   ZeltProbe posthwnd HWND MSG WPARAM LPARAM  post to a window by its handle (hex,
//                                              as ui-list prints it): sends nothing,
//                                              so it works while the window's
//                                              thread is busy
//   ZeltProbe click TARGET CHILDCLASS X Y      post a left click at X,Y of the
//                                              first descendant of CHILDCLASS
//   ZeltProbe stats TARGET                     figures of the window's process
//   ZeltProbe serve                            read such commands from stdin,
//                                              one per line, one answer line each
// Security descriptors of files and folders (paths as hex of UTF-8), as SDDL
// (owner, group, DACL):
//   ZeltProbe sd <hexpath>...   print "SD <hexpath> <sddl>" each ("-" when unreadable)
//   ZeltProbe sd-fresh <hexdir> print "FRESH dir <sddl>" and "FRESH file <sddl>" of a
//                               folder and a file made there by plain CreateDirectoryW
//                               and CreateFileW (default security), then removed
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <psapi.h>
#include <sddl.h>
#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "GdiCount.h"

namespace {

namespace gdicount = zelt::gdicount;

struct Named {
  const char* name;
  UINT id;
};
Named g_msgs[] = {{"ZELTI_START", 0}, {"ZELTI_CLOSE", 0}, {"ZELTI_HALT", 0}, {"ZELTI_FIND", 0}, {"ZELTI_HERE", 0}};
int g_here = 0;
bool g_print = false;

// The hostile peers: a FIND answered to every HERE (up to g_peerLimit in
// all), or every HERE held g_stallMs.
int g_peerLimit = 0;
DWORD g_stallMs = 0;
// The chasing peer: a FIND posted after every HERE; HEREs counted until
// g_chaseEnd (performance counter).
bool g_chase = false;
LONGLONG g_chaseEnd = 0;
int g_chased = 0;
void Send(UINT msg);
UINT Id(const char* name);

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  for (const Named& m : g_msgs) {
    if (m.id != 0 && msg == m.id) {
      if (std::strcmp(m.name, "ZELTI_HERE") == 0) {
        ++g_here;
        if (g_stallMs) {
          if (g_here == 1) std::printf("STALL\n");
          std::fflush(stdout);
          Sleep(g_stallMs);
        }
        if (g_here < g_peerLimit) Send(Id("ZELTI_FIND"));
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        if (g_chase && now.QuadPart < g_chaseEnd) {
          ++g_chased;
          PostMessageA(HWND_BROADCAST, Id("ZELTI_FIND"), 0, 0);
        }
      }
      if (g_print) {
        std::printf("MSG %s %lu\n", m.name, static_cast<unsigned long>(GetTickCount()));
        std::fflush(stdout);
      }
      return 0;
    }
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND MakeWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ProbeProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ZeltProbeWindow";
  RegisterClassA(&wc);  // fails harmlessly for the second window
  // Hidden top-level window: broadcasts reach it, message-only windows miss them.
  return CreateWindowExA(0, wc.lpszClassName, "ZeltProbe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  for (;;) {
    const DWORD now = GetTickCount();
    if (static_cast<int>(end - now) <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

UINT Id(const char* name) {
  for (const Named& m : g_msgs)
    if (std::strcmp(m.name, name) == 0) return m.id;
  return 0;
}

void Send(UINT msg) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, msg, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
}

// --- looking at and pressing windows ---

std::wstring FromHex(const std::string& hex) {
  std::string utf8;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) utf8 += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  std::wstring w(utf8.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(),
                                    static_cast<int>(w.size()));
  w.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return w;
}

std::string ToHex(const std::wstring& w) {
  std::string utf8(w.size() * 4 + 1, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(n > 0 ? static_cast<size_t>(n) : 0);
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : utf8) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex.empty() ? "-" : hex;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[1024] = {};
  // WM_GETTEXT reads another process's control as well.
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

struct Selector {
  std::wstring cls, title;
  std::vector<HWND> found;
};

BOOL CALLBACK MatchTop(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<Selector*>(lp);
  if (!IsWindowVisible(hwnd)) return TRUE;
  if (!s->cls.empty() && ClassOf(hwnd) != s->cls) return TRUE;
  if (!s->title.empty() && TextOf(hwnd) != s->title) return TRUE;
  s->found.push_back(hwnd);
  return TRUE;
}

// The visible top-level windows that "class:NAME" or "title:HEX" names.
std::vector<HWND> FindWindows(const std::string& pattern) {
  Selector s;
  if (pattern.rfind("class:", 0) == 0) {
    const std::string name = pattern.substr(6);
    s.cls.assign(name.begin(), name.end());
  } else if (pattern.rfind("title:", 0) == 0) {
    s.title = FromHex(pattern.substr(6));
  } else {
    return {};
  }
  EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, CollectChild, reinterpret_cast<LPARAM>(&all));
  return all;
}

void Press(HWND control) {
  // BM_CLICK makes the button notify its parent as a mouse click does. Posted:
  // the click may open a modal window whose loop runs inside the handler.
  PostMessageW(control, BM_CLICK, 0, 0);
}

int UiList(const std::string& pattern) {
  for (HWND top : FindWindows(pattern)) {
    RECT rc;
    GetWindowRect(top, &rc);
    std::printf("WIN %p %ld %ld %ld %ld %s\n", static_cast<void*>(top), rc.left, rc.top, rc.right - rc.left,
                rc.bottom - rc.top, ToHex(TextOf(top)).c_str());
    for (HWND c : Descendants(top)) {
      POINT p{0, 0};
      MapWindowPoints(c, top, &p, 1);
      DWORD_PTR state = 0;
      const bool isButton = _wcsicmp(ClassOf(c).c_str(), L"Button") == 0;
      if (isButton) SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
      std::printf("CTL %p %s %d %d %d %ld %ld %s\n", static_cast<void*>(c), ToHex(ClassOf(c)).c_str(),
                  IsWindowEnabled(c) ? 1 : 0, IsWindowVisible(c) ? 1 : 0, state == BST_CHECKED ? 1 : 0, p.x, p.y,
                  ToHex(TextOf(c)).c_str());
    }
  }
  return 0;
}

// Says which control it presses, then presses it.
int Clicked(HWND control) {
  std::printf("CLICK %p\n", static_cast<void*>(control));
  std::fflush(stdout);
  Press(control);
  return 0;
}

int UiClick(const std::string& pattern, const std::string& hex, bool prefixOnly) {
  const std::wstring wanted = FromHex(hex);
  for (HWND top : FindWindows(pattern)) {
    for (HWND c : Descendants(top)) {
      const std::wstring text = TextOf(c);
      if (!IsWindowVisible(c) || (prefixOnly ? text.rfind(wanted, 0) != 0 : text != wanted)) continue;
      return Clicked(c);
    }
  }
  std::printf("NOTFOUND\n");
  return 3;
}

int UiClickAt(const std::string& pattern, int x, int y) {
  for (HWND top : FindWindows(pattern)) {
    HWND target = nullptr;
    for (HWND c : Descendants(top)) {
      if (!IsWindowVisible(c)) continue;
      RECT rc;
      GetWindowRect(c, &rc);
      MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rc), 2);
      // The innermost (last enumerated) control under the point.
      if (x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom) target = c;
    }
    if (target) {
      return Clicked(target);
    }
  }
  std::printf("NOTFOUND\n");
  return 3;
}

struct Boxes {
  std::vector<HWND> found;
};

BOOL CALLBACK MatchBox(HWND hwnd, LPARAM lp) {
  if (IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770") reinterpret_cast<Boxes*>(lp)->found.push_back(hwnd);
  return TRUE;
}

std::wstring BoxText(HWND box) {
  std::wstring longest;
  for (HWND c : Descendants(box)) {
    if (_wcsicmp(ClassOf(c).c_str(), L"Static") != 0) continue;
    const std::wstring t = TextOf(c);
    if (t.size() > longest.size()) longest = t;
  }
  return longest;
}

int UiBoxes() {
  Boxes b;
  EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&b));
  for (HWND box : b.found)
    std::printf("BOX %s %s\n", ToHex(TextOf(box)).c_str(), ToHex(BoxText(box)).c_str());
  return 0;
}

int UiOkBox(const std::string& hex) {
  const std::wstring caption = FromHex(hex);
  Boxes b;
  EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&b));
  int pressed = 0;
  for (HWND box : b.found) {
    if (TextOf(box) != caption) continue;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ++pressed;
  }
  std::printf("OK %d\n", pressed);
  return pressed ? 0 : 3;
}

// --- finding windows ---

struct Find {
  std::string cls;
  HWND best = nullptr;  // visible, enabled, not a tool window
  HWND any = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lp) {
  auto* f = reinterpret_cast<Find*>(lp);
  char cls[256] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (f->cls != cls) return TRUE;
  if (!f->any) f->any = hwnd;
  const LONG_PTR ex = GetWindowLongPtrA(hwnd, GWL_EXSTYLE);
  if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd) && !(ex & WS_EX_TOOLWINDOW)) {
    f->best = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindTarget(const std::string& cls) {
  Find f;
  f.cls = cls;
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&f));
  return f.best ? f.best : f.any;
}

BOOL CALLBACK FindChild(HWND hwnd, LPARAM lp) {
  auto* f = reinterpret_cast<Find*>(lp);
  char cls[256] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (f->cls == cls) {
    f->any = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindDescendant(HWND parent, const std::string& cls) {
  Find f;
  f.cls = cls;
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&f));
  return f.any;
}

// --- driving ---

bool PostKey(HWND hwnd, UINT vk) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC)) << 16;
  return PostMessageA(hwnd, WM_KEYDOWN, vk, 1 | scan) &&
         PostMessageA(hwnd, WM_KEYUP, vk, 1 | scan | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

bool PostClick(HWND hwnd, int x, int y) {
  const LPARAM at = MAKELPARAM(x, y);
  return PostMessageA(hwnd, WM_MOUSEMOVE, 0, at) && PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
         PostMessageA(hwnd, WM_LBUTTONUP, 0, at);
}

// --- process figures ---

int ThreadCount(DWORD pid) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == pid) ++n;
  CloseHandle(snap);
  return n;
}

// Handles the process holds, from the system's handle list (where
// GetProcessHandleCount answers 0, this still counts). -1 when unavailable.
int SystemHandleCount(DWORD pid) {
  using QueryFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  struct Entry {  // SYSTEM_HANDLE_ENTRY
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
  };
  struct Header {  // SYSTEM_HANDLE_INFORMATION: the count, then the entries
    ULONG Count;
    Entry First;
  };
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<unsigned char> buf(1 << 16);
  for (int attempt = 0; attempt < 12; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buf.data(), static_cast<ULONG>(buf.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buf.resize(std::max<size_t>(buf.size() * 2, needed + 4096));
      continue;
    }
    if (status != 0) return -1;
    ULONG count = 0;
    std::memcpy(&count, buf.data(), sizeof count);
    const size_t first = offsetof(Header, First);
    if (first + size_t{count} * sizeof(Entry) > buf.size()) return -1;
    int n = 0;
    for (ULONG i = 0; i < count; ++i) {
      Entry e;
      std::memcpy(&e, buf.data() + first + i * sizeof(Entry), sizeof e);
      if (e.OwnerPid == pid) ++n;
    }
    return n;
  }
  return -1;
}

std::string Stats(const std::string& target) {
  HWND hwnd = FindTarget(target);
  if (!hwnd) return "ERR no window " + target;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return "ERR cannot open process " + std::to_string(pid);
  PROCESS_MEMORY_COUNTERS_EX mem{};
  mem.cb = sizeof mem;
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
  DWORD handles = 0;
  GetProcessHandleCount(process, &handles);
  FILETIME created, exited, kernel, user;
  uint64_t cpu100ns = 0;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    auto v = [](const FILETIME& f) { return (uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime; };
    cpu100ns = v(kernel) + v(user);
  }
  std::ostringstream out;
  out << "STATS pid=" << pid << " private=" << mem.PrivateUsage << " workingset=" << mem.WorkingSetSize
      << " pagefile=" << mem.PagefileUsage << " handles=" << handles
      << " handles_sys=" << SystemHandleCount(pid)
      << " gdi_api=" << GetGuiResources(process, GR_GDIOBJECTS)
      << " user_api=" << GetGuiResources(process, GR_USEROBJECTS) << " gdi_table=" << gdicount::GdiTableCount(process)
      << " windows=" << gdicount::WindowCount(pid) << " threads=" << ThreadCount(pid) << " cpu_ms=" << cpu100ns / 10000;
  CloseHandle(process);
  return out.str();
}

unsigned long Number(const std::string& s) { return std::strtoul(s.c_str(), nullptr, 0); }

// --- flooding a process's windows ---

struct ProcessWindows {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOfProcess(HWND hwnd, LPARAM lp) {
  auto* p = reinterpret_cast<ProcessWindows*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != p->pid) return TRUE;
  p->found.push_back(hwnd);
  for (HWND c : Descendants(hwnd)) p->found.push_back(c);
  return TRUE;
}

std::string Flood(const std::string& target, unsigned long seed) {
  HWND hwnd = FindTarget(target);
  if (!hwnd) return "ERR no window " + target;
  ProcessWindows p{0, {}};
  GetWindowThreadProcessId(hwnd, &p.pid);
  EnumWindows(CollectOfProcess, reinterpret_cast<LPARAM>(&p));
  // Message-only windows are no top-level windows: they are found apart.
  for (HWND m = nullptr; (m = FindWindowExW(HWND_MESSAGE, m, nullptr, nullptr)) != nullptr;) {
    DWORD pid = 0;
    GetWindowThreadProcessId(m, &pid);
    if (pid == p.pid) p.found.push_back(m);
  }
  uint64_t state = seed * 6364136223846793005ull + 1442695040888963407ull;
  auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    // Pointers that point nowhere, small numbers and all bits set, mixed.
    switch ((state >> 60) & 3) {
      case 0: return static_cast<uintptr_t>(state >> 16);
      case 1: return static_cast<uintptr_t>((state >> 33) & 0xFF);
      case 2: return ~uintptr_t{0};
      default: return static_cast<uintptr_t>(0x10000 + ((state >> 20) & 0xFFFF0));
    }
  };
  int posts = 0;
  for (UINT msg = WM_APP; msg <= WM_APP + 32; ++msg) {
    for (HWND w : p.found) posts += PostMessageW(w, msg, next(), static_cast<LPARAM>(next())) ? 1 : 0;
    posts += PostMessageW(HWND_BROADCAST, msg, next(), static_cast<LPARAM>(next())) ? 1 : 0;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, msg, next(), static_cast<LPARAM>(next()), SMTO_ABORTIFHUNG, 2000, &result);
  }
  return "FLOOD " + std::to_string(posts) + " windows=" + std::to_string(p.found.size());
}

// --- crafted messages for a process's windows ---

// The program's windows in the process owning TARGET: its top-level and
// message-only windows of a "Zelt" class, with every control in them.
std::vector<HWND> ProgramWindows(const std::string& target) {
  HWND hwnd = FindTarget(target);
  if (!hwnd) return {};
  ProcessWindows p{0, {}};
  GetWindowThreadProcessId(hwnd, &p.pid);
  EnumWindows(CollectOfProcess, reinterpret_cast<LPARAM>(&p));
  for (HWND m = nullptr; (m = FindWindowExW(HWND_MESSAGE, m, nullptr, nullptr)) != nullptr;) {
    DWORD pid = 0;
    GetWindowThreadProcessId(m, &pid);
    if (pid == p.pid) p.found.push_back(m);
  }
  std::vector<HWND> ours;
  for (HWND w : p.found) {
    const HWND top = GetAncestor(w, GA_ROOT);
    if (ClassOf(w).rfind(L"Zelt", 0) == 0 || (top && ClassOf(top).rfind(L"Zelt", 0) == 0)) ours.push_back(w);
  }
  return ours;
}

std::string Forge(const std::string& target, DWORD ms) {
  const std::vector<HWND> windows = ProgramWindows(target);
  if (windows.empty()) return "ERR no window " + target;
  auto* const nowhere = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A50});
  const LPARAM nowhereLp = reinterpret_cast<LPARAM>(nowhere);
  int rounds = 0;
  for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; ++rounds) {
    for (HWND w : windows) {
      CREATESTRUCTW create{};
      create.lpCreateParams = nowhere;
      NMHDR notify{w, 0, static_cast<UINT>(NM_DBLCLK)};
      DRAWITEMSTRUCT draw{ODT_BUTTON, 0, 0, ODA_DRAWENTIRE, 0, w, reinterpret_cast<HDC>(nowhere), {0, 0, 9, 9}, 0};
      const struct {
        UINT msg;
        WPARAM wp;
        LPARAM lp;
      } sent[] = {{WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)},
                  {WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify)},
                  {WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw)},
                  {WM_DPICHANGED, MAKEWPARAM(192, 192), nowhereLp}};
      for (const auto& m : sent) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(w, m.msg, m.wp, m.lp, SMTO_ABORTIFHUNG, 2000, &result);
      }
      PostMessageW(w, WM_DPICHANGED, MAKEWPARAM(192, 192), nowhereLp);
      for (WPARAM id = 0; id < 9; ++id) {
        PostMessageW(w, WM_TIMER, id, 0);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(w, WM_TIMER, id, 0, SMTO_ABORTIFHUNG, 2000, &result);
      }
    }
    Sleep(20);
  }
  return "FORGED " + std::to_string(rounds) + " windows=" + std::to_string(windows.size());
}

// One driving command (key, post, click, stats); returns the answer line.
std::string Drive(const std::vector<std::string>& a) {
  if (a.empty()) return "ERR empty";
  const std::string& cmd = a[0];
  if (cmd == "stats" && a.size() >= 2) return Stats(a[1]);
  if (cmd == "flood" && a.size() >= 3) return Flood(a[1], Number(a[2]));
  if (cmd == "forge" && a.size() >= 3) return Forge(a[1], static_cast<DWORD>(Number(a[2])));
  if (cmd == "posthwnd" && a.size() >= 5) {
    HWND to = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(a[1].c_str(), nullptr, 16)));
    return PostMessageW(to, static_cast<UINT>(Number(a[2])), static_cast<WPARAM>(Number(a[3])),
                        static_cast<LPARAM>(Number(a[4])))
               ? "OK"
               : "ERR post failed";
  }
  if (a.size() < 2) return "ERR usage";
  HWND hwnd = FindTarget(a[1]);
  if (!hwnd) return "ERR no window " + a[1];
  if (cmd == "key" && a.size() >= 3) {
    const UINT vk = static_cast<UINT>(Number(a[2]));
    const unsigned long count = a.size() >= 4 ? Number(a[3]) : 1;
    const DWORD gap = a.size() >= 5 ? static_cast<DWORD>(Number(a[4])) : 0;
    for (unsigned long i = 0; i < count; ++i) {
      if (!PostKey(hwnd, vk)) return "ERR post failed";
      if (gap && i + 1 < count) Sleep(gap);
    }
    return "OK " + std::to_string(count);
  }
  if (cmd == "post" && a.size() >= 5) {
    const UINT msg = static_cast<UINT>(Number(a[2]));
    HWND to = a.size() >= 6 ? FindDescendant(hwnd, a[5]) : hwnd;
    if (!to) return "ERR no child " + a[5];
    return PostMessageA(to, msg, static_cast<WPARAM>(Number(a[3])), static_cast<LPARAM>(Number(a[4])))
               ? "OK"
               : "ERR post failed";
  }
  if (cmd == "rows") {
    HWND list = FindDescendant(hwnd, "SysListView32");
    if (!list) return "ERR no list";
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &n)) return "ERR no answer";
    return "ROWS " + std::to_string(n);
  }
  if (cmd == "click" && a.size() >= 5) {
    HWND child = FindDescendant(hwnd, a[2]);
    if (!child) return "ERR no child " + a[2];
    return PostClick(child, static_cast<int>(std::strtol(a[3].c_str(), nullptr, 0)),
                     static_cast<int>(std::strtol(a[4].c_str(), nullptr, 0)))
               ? "OK"
               : "ERR post failed";
  }
  return "ERR unknown command " + cmd;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// --- security descriptors ---

std::string Sddl(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd) !=
      ERROR_SUCCESS)
    return "-";
  LPWSTR text = nullptr;
  std::string out = "-";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr)) {
    out.clear();
    for (const wchar_t* c = text; *c; ++c) out += static_cast<char>(*c < 0x80 ? *c : '?');
    LocalFree(text);
  }
  LocalFree(sd);
  return out;
}

int SecurityDescriptors(const std::string& cmd, int argc, char** argv) {
  if (cmd == "sd") {
    for (int i = 2; i < argc; ++i) std::printf("SD %s %s\n", argv[i], Sddl(FromHex(argv[i])).c_str());
    return 0;
  }
  const std::wstring dir = FromHex(argv[2]) + L"\\zelt-probe-fresh";
  const std::wstring file = dir + L"\\file";
  if (!CreateDirectoryW(dir.c_str(), nullptr)) return 1;
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  std::printf("FRESH dir %s\nFRESH file %s\n", Sddl(dir).c_str(), Sddl(file).c_str());
  DeleteFileW(file.c_str());
  RemoveDirectoryW(dir.c_str());
  return h == INVALID_HANDLE_VALUE ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (Named& m : g_msgs) m.id = RegisterWindowMessageA(m.name);
  if (argc < 2) {
    std::fprintf(stderr, "usage: ZeltProbe find|halt|watch|hang [ms] | key|post|click|stats ... | serve | ui-...\n");
    return 2;
  }
  const std::string cmd = argv[1];
  if (cmd.rfind("ui-", 0) == 0) {
    int rc = 2;
    if (cmd == "ui-list" && argc > 2) rc = UiList(argv[2]);
    if (cmd == "ui-click" && argc > 3) rc = UiClick(argv[2], argv[3], argc > 4 && std::strcmp(argv[4], "prefix") == 0);
    if (cmd == "ui-clickat" && argc > 4) rc = UiClickAt(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (cmd == "ui-boxes") rc = UiBoxes();
    if (cmd == "ui-okbox" && argc > 2) rc = UiOkBox(argv[2]);
    std::fflush(stdout);
    return rc;
  }
  if (cmd == "sd" || (cmd == "sd-fresh" && argc > 2)) {
    const int rc = SecurityDescriptors(cmd, argc, argv);
    std::fflush(stdout);
    return rc;
  }
  if (cmd == "key" || cmd == "post" || cmd == "click" || cmd == "stats" || cmd == "rows" || cmd == "flood" ||
      cmd == "forge") {
    const std::string answer = Drive(std::vector<std::string>(argv + 1, argv + argc));
    std::printf("%s\n", answer.c_str());
    return answer.rfind("ERR", 0) == 0 ? 1 : 0;
  }
  if (cmd == "serve") {
    std::printf("READY\n");
    std::fflush(stdout);
    char line[1024];
    while (std::fgets(line, sizeof line, stdin)) {
      const std::vector<std::string> words = Words(line);
      if (!words.empty() && words[0] == "quit") break;
      std::printf("%s\n", Drive(words).c_str());
      std::fflush(stdout);
    }
    return 0;
  }
  const DWORD ms = argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 500;
  HWND hwnd = MakeWindow();
  if (cmd == "find") {
    // A copy answers at once, or when a second has passed since its last
    // answer: wait that long for a first answer, then a little for others.
    Send(Id("ZELTI_FIND"));
    const DWORD end = GetTickCount() + ms + 1500;
    while (g_here == 0 && static_cast<int>(end - GetTickCount()) > 0) Pump(20);
    Pump(ms);
    std::printf("HERE %d\n", g_here);
  } else if (cmd == "halt") {
    Send(Id("ZELTI_HALT"));
    std::printf("SENT\n");
  } else if (cmd == "watch") {
    g_print = true;
    std::printf("READY\n");
    std::fflush(stdout);
    Pump(ms);
    std::printf("DONE\n");
  } else if (cmd == "peer" || cmd == "stall") {
    // peer <n> [pumpMs] | stall <k> <ms>
    const unsigned long n = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    if (cmd == "peer") {
      g_peerLimit = static_cast<int>(n);
    } else {
      g_stallMs = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 500;
      for (unsigned long i = 1; i < n; ++i) MakeWindow();
    }
    Send(Id("ZELTI_FIND"));
    if (cmd == "peer") {
      Pump(argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 1000);
    } else {
      // Until every window has been held once (or the copy gave up on them).
      const DWORD end = GetTickCount() + static_cast<DWORD>(n) * g_stallMs + 5000;
      while (g_here < static_cast<int>(n) && static_cast<int>(end - GetTickCount()) > 0) Pump(50);
    }
    std::printf("%s %d\n", cmd == "peer" ? "HERE" : "DONE", g_here);
  } else if (cmd == "chase") {
    LARGE_INTEGER now, perSecond;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&perSecond);
    g_chase = true;
    g_chaseEnd = now.QuadPart + perSecond.QuadPart * ms / 1000;
    Send(Id("ZELTI_FIND"));
    for (DWORD waited = 0; waited < ms; waited += 100) {
      Pump(100);
      PostMessageA(HWND_BROADCAST, Id("ZELTI_FIND"), 0, 0);
    }
    std::printf("HERE %d\n", g_chased);
  } else if (cmd == "hang") {
    std::printf("READY\n");
    std::fflush(stdout);
    Sleep(ms);
  } else {
    std::fprintf(stderr, "unknown command %s\n", cmd.c_str());
    return 2;
  }
  std::fflush(stdout);
  DestroyWindow(hwnd);
  return 0;
}
