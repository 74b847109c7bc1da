#include "base/uZELTIMessages.h"

#include <windows.h>

namespace zelt {

unsigned int ZELTI_START = 0;
unsigned int ZELTI_CLOSE = 0;
unsigned int ZELTI_HALT = 0;
unsigned int ZELTI_FIND = 0;
unsigned int ZELTI_HERE = 0;

void RegisterInstanceMessages() {
  ZELTI_START = RegisterWindowMessageA("ZELTI_START");
  ZELTI_CLOSE = RegisterWindowMessageA("ZELTI_CLOSE");
  ZELTI_HALT = RegisterWindowMessageA("ZELTI_HALT");
  ZELTI_FIND = RegisterWindowMessageA("ZELTI_FIND");
  ZELTI_HERE = RegisterWindowMessageA("ZELTI_HERE");
}

void Broadcast(unsigned int msg) {
  // Synchronous for every responsive window; SMTO_ABORTIFHUNG and the timeout
  // keep a hung window elsewhere from hanging this program.
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, msg, 0, 0, SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, &result);
}

}  // namespace zelt
