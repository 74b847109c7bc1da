#include "ui/SideWindows.h"

namespace zelt {

void TSideWindows::Show(TDialogKind kind) {
  auto& slot = Slot(kind);
  if (slot && slot->InModal()) {
    SetForegroundWindow(slot->Handle());
    return;
  }
  if (!slot) slot = make_(kind);
  if (!slot) return;
  slot->ShowModal();
  slot.reset();
}

void TSideWindows::CloseAll() {
  for (auto& slot : forms_) {
    if (!slot) continue;
    PostMessageW(slot->Handle(), WM_CLOSE, 0, 0);
    if (!slot->InModal()) slot.reset();
  }
}

TForm* TSideWindows::Get(TDialogKind kind) const { return forms_[static_cast<size_t>(kind) - 1].get(); }

}  // namespace zelt
