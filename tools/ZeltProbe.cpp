// A Win32 helper of the end-to-end tests and the footprint measurement: it
// presses and reads the program's windows, speaks the instance messages (also
// as a hostile peer) and reads a process's figures.
//   ZeltProbe serve            one command per line of stdin; each answer ends
//                              with an empty line. Between commands the probe's
//                              window keeps taking the instance messages.
//   ZeltProbe COMMAND ARGS...  one command; exit code 1 when it answers "ERR ..."
// A WINDOW is "class:NAME" (or a bare NAME) or "title:HEX"; of
// several, the shown, enabled ones that are no tool windows come first. Texts
// and paths are hex of UTF-8.
//   find [ms]               broadcast ZELTI_FIND: "HERE <answers>"
//   halt                    broadcast ZELTI_HALT
//   seen                    the instance messages seen since the last "seen"
//   chase <ms>              FIND after every HERE and every 100 ms: "HERE <answers>"
//   hang <ms>               "READY" (an answer of its own), then the probe's
//                           window stops answering
//   forge WINDOW <ms>       for ms, to every window of a "Zelt" class in the
//                           process owning WINDOW (controls and message-only
//                           ones included): WM_NCCREATE and WM_NOTIFY pointing
//                           nowhere, WM_TIMER of every small id:
//                           "FORGED <rounds> windows=<n>"
//   key WINDOW VK [count]   post key down and up
//   post WINDOW MSG WP LP [CHILDCLASS]  to the first descendant of that class
//   rows WINDOW             "ROWS <n>" of its first list view
//   list WINDOW             a "WIN" line per shown window, a "CTL" line per control
//   press WINDOW HEX [prefix]  click the shown control with that text (start)
//   press-at WINDOW X Y     click the innermost shown control at a client point
//   stats WINDOW            figures of the window's process
//   sd HEXPATH              its security descriptor as SDDL (owner, group,
//                           DACL), "-" when unreadable
//   sd-fresh HEXDIR         "<sddl> <sddl>" of a folder and a file made there
//                           with default security, then removed
#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>
#include <psapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "GdiCount.h"
#include "base/ScopedWin.h"

namespace {

using TWords = std::vector<std::string>;
using zelt::TScopedFile;
using zelt::TScopedHandle;
using zelt::gdicount::Collect;

unsigned long Number(const std::string& s) { return std::strtoul(s.c_str(), nullptr, 0); }

std::wstring FromHex(const std::string& hex) {
  std::string utf8;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    utf8 += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  std::wstring w(utf8.size(), L'\0');
  w.resize(static_cast<size_t>(std::max(0, MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                               w.data(), static_cast<int>(w.size())))));
  return w;
}

std::string ToHex(const std::wstring& w) {
  std::string utf8(w.size() * 4, '\0');
  utf8.resize(static_cast<size_t>(std::max(0, WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                                                                   utf8.data(), static_cast<int>(utf8.size()),
                                                                   nullptr, nullptr))));
  std::string hex;
  for (unsigned char c : utf8) {
    hex += "0123456789abcdef"[c >> 4];
    hex += "0123456789abcdef"[c & 15];
  }
  return hex.empty() ? "-" : hex;
}

// Sends and waits, for a hung window no longer than `ms`; the result, 0 on a timeout.
DWORD_PTR Send(HWND hwnd, UINT msg, WPARAM wp = 0, LPARAM lp = 0, UINT ms = 2000) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, ms, &result);
  return result;
}

// WM_GETTEXT reads another process's controls as well.
std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[1024] = {};
  Send(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

bool Shown(HWND hwnd) { return IsWindowVisible(hwnd) != FALSE; }

std::vector<HWND> Descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

// The top-level windows a WINDOW pattern names, best first; only the shown
// ones, the ones to read and to press, when asked.
std::vector<HWND> TopWindows(const std::string& pattern, bool shownOnly = false) {
  const bool byTitle = pattern.starts_with("title:");
  const std::string name = pattern.substr(byTitle || pattern.starts_with("class:") ? 6 : 0);
  const std::wstring wanted = byTitle ? FromHex(name) : std::wstring(name.begin(), name.end());
  std::vector<HWND> all, found;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
  for (HWND w : all)
    if ((Shown(w) || !(byTitle || shownOnly)) && (byTitle ? TextOf(w) : ClassOf(w)) == wanted) found.push_back(w);
  std::stable_partition(found.begin(), found.end(), [](HWND w) {
    return Shown(w) && IsWindowEnabled(w) && !(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  });
  return found;
}

HWND FirstChild(HWND top, const std::string& cls) {
  for (HWND c : Descendants(top))
    if (ClassOf(c) == std::wstring(cls.begin(), cls.end())) return c;
  return nullptr;
}

// "WIN <handle>" per window, "CTL <handle> <enabled> <checked> <textHex>" per control in it.
std::string List(const std::string& pattern) {
  std::ostringstream out;
  for (HWND top : TopWindows(pattern, true)) {
    out << "WIN " << top << '\n';
    for (HWND c : Descendants(top)) {
      const bool checked = _wcsicmp(ClassOf(c).c_str(), L"Button") == 0 && Send(c, BM_GETCHECK) == BST_CHECKED;
      out << "CTL " << c << ' ' << !!IsWindowEnabled(c) << ' ' << checked << ' ' << ToHex(TextOf(c)) << '\n';
    }
  }
  const std::string text = out.str();
  return text.empty() ? "NONE" : text.substr(0, text.size() - 1);
}

// Presses the last enumerated shown control that `hit(top, control)` takes
// (under a point, that is the innermost one) in the first shown window that has one.
// BM_CLICK makes a button notify its parent as a mouse click does. Posted: the
// click may open a modal window whose loop runs inside the handler.
template <class THit>
std::string PressWhere(const std::string& pattern, THit hit) {
  for (HWND top : TopWindows(pattern, true)) {
    HWND last = nullptr;
    for (HWND c : Descendants(top))
      if (Shown(c) && hit(top, c)) last = c;
    if (last && PostMessageW(last, BM_CLICK, 0, 0)) return "PRESSED";
  }
  return "ERR not found";
}

std::string Forge(HWND target, DWORD ms) {
  DWORD pid = 0;
  GetWindowThreadProcessId(target, &pid);
  std::vector<HWND> windows;
  for (HWND w : zelt::gdicount::ProcessWindows(pid, true))
    if (ClassOf(GetAncestor(w, GA_ROOT)).starts_with(L"Zelt") || ClassOf(w).starts_with(L"Zelt")) windows.push_back(w);
  auto* const nowhere = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A50});
  int rounds = 0;
  for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; ++rounds) {
    for (HWND w : windows) {
      CREATESTRUCTW create{};
      create.lpCreateParams = nowhere;
      NMHDR notify{w, 0, static_cast<UINT>(NM_DBLCLK)};
      Send(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create));
      Send(w, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify));
      for (WPARAM id = 0; id < 9; ++id) {
        PostMessageW(w, WM_TIMER, id, 0);
        Send(w, WM_TIMER, id);
      }
    }
    Sleep(20);
  }
  return "FORGED " + std::to_string(rounds) + " windows=" + std::to_string(windows.size());
}

int ThreadCount(DWORD pid) {
  const TScopedFile snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snap) return -1;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL ok = Thread32First(snap.get(), &te); ok; ok = Thread32Next(snap.get(), &te))
    n += te.th32OwnerProcessID == pid;
  return n;
}

// Handles the process holds, from the system's handle list (where
// GetProcessHandleCount answers 0, this still counts). -1 when unavailable.
int SystemHandleCount(DWORD pid) {
  using TQuery = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  struct TEntry {  // SYSTEM_HANDLE_INFORMATION is a ULONG count, then these
    ULONG OwnerPid;
    BYTE ObjectType, HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
  };
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr size_t kFirst = alignof(TEntry);
  std::vector<unsigned char> buf(1 << 16);
  for (int attempt = 0; query && attempt < 12; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buf.data(), static_cast<ULONG>(buf.size()), &needed);
    if (status == static_cast<LONG>(0xC0000004)) {  // too small
      buf.resize(std::max<size_t>(buf.size() * 2, needed + 4096));
      continue;
    }
    ULONG count = 0;
    std::memcpy(&count, buf.data(), sizeof count);
    if (status != 0 || kFirst + size_t{count} * sizeof(TEntry) > buf.size()) return -1;
    int n = 0;
    for (ULONG i = 0; i < count; ++i) {
      TEntry e;
      std::memcpy(&e, buf.data() + kFirst + i * sizeof(TEntry), sizeof e);
      n += e.OwnerPid == pid;
    }
    return n;
  }
  return -1;
}

std::string Stats(HWND target) {
  DWORD pid = 0;
  GetWindowThreadProcessId(target, &pid);
  const TScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return "ERR cannot open process " + std::to_string(pid);
  PROCESS_MEMORY_COUNTERS_EX mem{};
  mem.cb = sizeof mem;
  GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
  DWORD handles = 0;
  GetProcessHandleCount(process.get(), &handles);
  std::ostringstream out;
  out << "STATS private=" << mem.PrivateUsage << " workingset=" << mem.WorkingSetSize << " handles=" << handles
      << " handles_sys=" << SystemHandleCount(pid) << " gdi_api=" << GetGuiResources(process.get(), GR_GDIOBJECTS)
      << " user_api=" << GetGuiResources(process.get(), GR_USEROBJECTS)
      << " gdi_table=" << zelt::gdicount::ProcessGdiCount(process.get())
      << " windows=" << zelt::gdicount::ProcessWindows(pid, false).size() << " threads=" << ThreadCount(pid);
  return out.str();
}

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

// One that could not be made reads "-", as an unreadable one does.
std::string FreshSddl(const std::wstring& folder) {
  const std::wstring dir = folder + L"\\zelt-probe-fresh", file = dir + L"\\file";
  CreateDirectoryW(dir.c_str(), nullptr);
  TScopedFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string answer = Sddl(dir) + " " + Sddl(file);
  DeleteFileW(file.c_str());
  RemoveDirectoryW(dir.c_str());
  return answer;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The probe's own hidden top-level window (broadcasts reach those, not
// message-only ones) and what it does with the instance messages.
class TPeer {
  enum TId { kStart, kClose, kHalt, kFind, kHere };
  static constexpr const char* kNames[] = {"ZELTI_START", "ZELTI_CLOSE", "ZELTI_HALT", "ZELTI_FIND", "ZELTI_HERE"};

 public:
  TPeer() {
    for (size_t i = 0; i < std::size(kNames); ++i) ids_[i] = RegisterWindowMessageA(kNames[i]);
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZeltProbeWindow";
    RegisterClassW(&wc);
    CreateWindowExW(0, wc.lpszClassName, L"ZeltProbe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, this);
  }

  // Handles the messages that come within ms. Wine takes a window whose
  // thread has not looked at its queue for five seconds for hung, however it
  // waits: the queue is looked at once a second at least.
  static void Pump(DWORD ms) {
    for (const DWORD end = GetTickCount() + ms;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      const DWORD now = GetTickCount();
      if (static_cast<int>(end - now) <= 0) return;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(end - now, 1000), QS_ALLINPUT);
    }
  }

  // One command; its answer. Of the answers the window saw, only those after
  // the command's own broadcast are counted.
  std::string Run(const TWords& a) {
    const std::string cmd = a.empty() ? "" : a[0];
    auto arg = [&a](size_t i, unsigned long fallback = 0) { return i < a.size() ? Number(a[i]) : fallback; };
    const DWORD ms = static_cast<DWORD>(arg(1, 500));
    if (cmd == "find") {
      // A copy answers at once, or when a second has passed since its last
      // answer: wait that long for a first answer, then a little for others.
      heres_ = 0;
      Broadcast(kFind);
      for (const DWORD end = GetTickCount() + ms + 1500; heres_ == 0 && static_cast<int>(end - GetTickCount()) > 0;)
        Pump(20);
      Pump(ms);
      return "HERE " + std::to_string(heres_);
    }
    if (cmd == "halt") {
      Broadcast(kHalt);
      return "SENT";
    }
    if (cmd == "seen") return "SEEN" + std::exchange(seen_, "");
    if (cmd == "chase") {
      chaseUntil_ = GetTickCount64() + ms;
      chased_ = 0;
      Broadcast(kFind);
      for (DWORD waited = 0; waited < ms; waited += 100) {
        Pump(100);
        PostMessageW(HWND_BROADCAST, ids_[kFind], 0, 0);
      }
      return "HERE " + std::to_string(chased_);
    }
    if (cmd == "hang") {
      Say("READY\n");
      Sleep(ms);
      return "DONE";
    }
    if (cmd == "sd" && a.size() > 1) return Sddl(FromHex(a[1]));
    if (cmd == "sd-fresh" && a.size() > 1) return FreshSddl(FromHex(a[1]));
    if (cmd == "list" && a.size() > 1) return List(a[1]);
    if (cmd == "press" && a.size() > 2) {
      const std::wstring wanted = FromHex(a[2]);
      const bool prefix = a.size() > 3 && a[3] == "prefix";
      return PressWhere(a[1], [&](HWND, HWND c) {
        const std::wstring text = TextOf(c);
        return prefix ? text.starts_with(wanted) : text == wanted;
      });
    }
    if (cmd == "press-at" && a.size() > 3) {
      const POINT at{static_cast<LONG>(arg(2)), static_cast<LONG>(arg(3))};
      return PressWhere(a[1], [&](HWND top, HWND c) {
        RECT rc;
        GetWindowRect(c, &rc);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rc), 2);
        return PtInRect(&rc, at) != FALSE;
      });
    }
    const std::vector<HWND> tops = a.size() > 1 ? TopWindows(a[1]) : std::vector<HWND>{};
    if (tops.empty()) return "ERR no window " + (a.size() > 1 ? a[1] : cmd);
    const HWND target = tops.front();
    if (cmd == "forge") return Forge(target, static_cast<DWORD>(arg(2, 500)));
    if (cmd == "stats") return Stats(target);
    if (cmd == "key" && a.size() > 2) {
      const UINT vk = static_cast<UINT>(arg(2));
      const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
      for (unsigned long i = arg(3, 1); i > 0; --i)
        if (!PostMessageW(target, WM_KEYDOWN, vk, 1 | scan) ||
            !PostMessageW(target, WM_KEYUP, vk, 1 | scan | (LPARAM{1} << 30) | (LPARAM{1} << 31)))
          return "ERR post failed";
      return "OK";
    }
    if (cmd == "post" && a.size() > 4) {
      const HWND to = a.size() > 5 ? FirstChild(target, a[5]) : target;
      if (!to) return "ERR no child " + a[5];
      return PostMessageW(to, static_cast<UINT>(arg(2)), arg(3), static_cast<LPARAM>(arg(4))) ? "OK" : "ERR post failed";
    }
    if (cmd == "rows") {
      const HWND list = FirstChild(target, "SysListView32");
      if (!list) return "ERR no list";
      return "ROWS " + std::to_string(Send(list, LVM_GETITEMCOUNT, 0, 0, 5000));
    }
    return "ERR unknown command " + cmd;
  }

 private:
  void Broadcast(TId id) { Send(HWND_BROADCAST, ids_[id], 0, 0, 5000); }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<TPeer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const UINT* id = self ? std::find(std::begin(self->ids_), std::end(self->ids_), msg) : nullptr;
    if (!self || id == std::end(self->ids_)) return DefWindowProcW(hwnd, msg, wp, lp);
    self->seen_ += std::string(" ") + kNames[id - self->ids_];
    if (*id == self->ids_[kHere]) self->OnHere();
    return 0;
  }

  void OnHere() {
    ++heres_;
    if (GetTickCount64() < chaseUntil_) {
      ++chased_;
      PostMessageW(HWND_BROADCAST, ids_[kFind], 0, 0);
    }
  }

  UINT ids_[std::size(kNames)] = {};
  std::string seen_;
  int heres_ = 0, chased_ = 0;
  ULONGLONG chaseUntil_ = 0;
};

// stdin is read on a thread of its own that hands each line (null at the end
// of the input) to the main thread's queue, so that the probe's windows keep
// taking messages while the next command is awaited. A line comes only after
// the answer to the one before, so no command's pumping meets one.
DWORD WINAPI ReadLines(void* mainThread) {
  const auto to = static_cast<DWORD>(reinterpret_cast<uintptr_t>(mainThread));
  for (std::string line; std::getline(std::cin, line);)
    PostThreadMessageW(to, WM_APP, 0, reinterpret_cast<LPARAM>(new std::string(line)));
  PostThreadMessageW(to, WM_APP, 0, 0);
  return 0;
}

// Ends the process at the end of the input or at "quit".
[[noreturn]] void Serve(TPeer& peer) {
  const auto self = reinterpret_cast<void*>(uintptr_t{GetCurrentThreadId()});
  CloseHandle(CreateThread(nullptr, 0, ReadLines, self, 0, nullptr));
  Say("READY");
  for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) {
    if (msg.hwnd || msg.message != WM_APP) {
      DispatchMessageW(&msg);
      continue;
    }
    const std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(msg.lParam));
    std::istringstream in(line ? *line : "quit");
    const TWords words{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
    if (!words.empty() && words[0] == "quit") break;
    Say(peer.Run(words) + "\n");
  }
  ExitProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
  TPeer peer;
  if (argc == 2 && std::strcmp(argv[1], "serve") == 0) Serve(peer);
  const std::string answer = peer.Run(TWords(argv + 1, argv + argc));
  Say(answer);
  return answer.starts_with("ERR") ? 1 : 0;
}
