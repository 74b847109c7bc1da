// The five registered window messages through which other programs learn that
// a copy runs and can ask it to stop.
#pragma once

namespace zelt {

extern unsigned int ZELTI_START;  // sent once when the main window is created
extern unsigned int ZELTI_CLOSE;  // sent once when the main window closes
extern unsigned int ZELTI_HALT;   // asks a running copy to close
extern unsigned int ZELTI_FIND;   // asks a running copy to answer
extern unsigned int ZELTI_HERE;   // the answer

// Registers the five messages, in this order. Done once at program start.
void RegisterInstanceMessages();

// Sends the message with wParam 0 and lParam 0 to every top-level window and
// returns when all have handled it; a hung window is given up on after
// kBroadcastTimeoutMs instead of hanging this program.
inline constexpr unsigned kBroadcastTimeoutMs = 1000;
void Broadcast(unsigned int msg);

}  // namespace zelt
