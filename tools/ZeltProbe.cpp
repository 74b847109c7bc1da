// A small Win32 helper for the end-to-end tests: it broadcasts the instance
// messages and watches what a running copy of the program broadcasts.
//   ZeltProbe find [pumpMs]   broadcast ZELTI_FIND, print "HERE <count>"
//   ZeltProbe halt            broadcast ZELTI_HALT
//   ZeltProbe watch <ms>      print "MSG <name>" for each instance message seen
//   ZeltProbe hang <ms>       own a top-level window that stops answering
// Looking at and pressing the program's windows (texts as hex of UTF-8, a
// window as "class:NAME" or "title:HEX"):
//   ZeltProbe ui-list <window>            print "WIN"/"CTL" lines for the window and its controls
//   ZeltProbe ui-click <window> <hex> [prefix]  press the control with that text (or text start)
//   ZeltProbe ui-clickat <window> <x> <y> press the control at that client point
//   ZeltProbe ui-boxes                    print "BOX <captionHex> <textHex>" per message box
//   ZeltProbe ui-okbox <hex>              press OK in the message boxes with that caption
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Named {
  const char* name;
  UINT id;
};
Named g_msgs[] = {{"ZELTI_START", 0}, {"ZELTI_CLOSE", 0}, {"ZELTI_HALT", 0}, {"ZELTI_FIND", 0}, {"ZELTI_HERE", 0}};
int g_here = 0;
bool g_print = false;

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  for (const Named& m : g_msgs) {
    if (m.id != 0 && msg == m.id) {
      if (std::strcmp(m.name, "ZELTI_HERE") == 0) ++g_here;
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
  RegisterClassA(&wc);
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
std::vector<HWND> FindWindows(const std::string& spec) {
  Selector s;
  if (spec.rfind("class:", 0) == 0) {
    const std::string name = spec.substr(6);
    s.cls.assign(name.begin(), name.end());
  } else if (spec.rfind("title:", 0) == 0) {
    s.title = FromHex(spec.substr(6));
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

int UiList(const std::string& spec) {
  for (HWND top : FindWindows(spec)) {
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

int UiClick(const std::string& spec, const std::string& hex, bool prefixOnly) {
  const std::wstring wanted = FromHex(hex);
  for (HWND top : FindWindows(spec)) {
    for (HWND c : Descendants(top)) {
      const std::wstring text = TextOf(c);
      if (!IsWindowVisible(c) || (prefixOnly ? text.rfind(wanted, 0) != 0 : text != wanted)) continue;
      std::printf("CLICK %p\n", static_cast<void*>(c));
      std::fflush(stdout);
      Press(c);
      return 0;
    }
  }
  std::printf("NOTFOUND\n");
  return 3;
}

int UiClickAt(const std::string& spec, int x, int y) {
  for (HWND top : FindWindows(spec)) {
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
      std::printf("CLICK %p\n", static_cast<void*>(target));
      std::fflush(stdout);
      Press(target);
      return 0;
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

}  // namespace

int main(int argc, char** argv) {
  for (Named& m : g_msgs) m.id = RegisterWindowMessageA(m.name);
  if (argc < 2) {
    std::fprintf(stderr, "usage: ZeltProbe find|halt|watch|hang [ms]\n");
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
  const DWORD ms = argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 500;
  HWND hwnd = MakeWindow();
  if (cmd == "find") {
    Send(Id("ZELTI_FIND"));
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
