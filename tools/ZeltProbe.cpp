// A small Win32 helper for the end-to-end tests: it broadcasts the instance
// messages and watches what a running copy of the program broadcasts.
//   ZeltProbe find [pumpMs]   broadcast ZELTI_FIND, print "HERE <count>"
//   ZeltProbe halt            broadcast ZELTI_HALT
//   ZeltProbe watch <ms>      print "MSG <name>" for each instance message seen
//   ZeltProbe hang <ms>       own a top-level window that stops answering
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  for (Named& m : g_msgs) m.id = RegisterWindowMessageA(m.name);
  if (argc < 2) {
    std::fprintf(stderr, "usage: ZeltProbe find|halt|watch|hang [ms]\n");
    return 2;
  }
  const std::string cmd = argv[1];
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
