#include "widgets/Application.h"

#include "core/Text_win.h"

namespace zelt {

namespace {
constexpr UINT kMsgPost = WM_APP + 1;  // lParam: heap-allocated task, freed here
constexpr UINT kMsgSend = WM_APP + 2;  // lParam: SendPacket on the sender's stack
constexpr UINT kMciNotify = 0x3B9;     // MM_MCINOTIFY

struct SendPacket {
  std::function<void()>* task;
  bool ran;
};

TApplication* g_instance = nullptr;
}  // namespace

class TApplication::Timer final : public IPollTimer {
 public:
  Timer(TApplication& app, UINT_PTR id) : app_(app), id_(id) { app_.timers_[id_] = this; }
  ~Timer() override {
    SetEnabled(false);
    app_.timers_.erase(id_);
  }
  void SetInterval(uint32_t ms) override {
    interval_ = ms;
    if (enabled_) Arm();
  }
  uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled_) {
      Arm();
    } else if (app_.Handle()) {
      KillTimer(app_.Handle(), id_);
    }
  }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()> tick) override { tick_ = std::move(tick); }
  void Tick() {
    if (enabled_ && tick_) tick_();
  }

 private:
  void Arm() {
    if (app_.Handle() && interval_ > 0) SetTimer(app_.Handle(), id_, interval_, nullptr);
  }
  TApplication& app_;
  UINT_PTR id_;
  uint32_t interval_ = 1000;
  bool enabled_ = false;
  std::function<void()> tick_;
};

TApplication::TApplication(const std::string& title) : title_(title), guiThread_(GetCurrentThreadId()) {
  g_instance = this;
  // A hidden top-level window (not message-only): it owns the taskbar entry
  // and carries the queue, the timers and the MCI notices.
  CreateWnd(L"ZeltApplication", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, title_, 0, 0, 0, 0,
            nullptr);
}

TApplication::~TApplication() {
  {
    std::lock_guard<std::mutex> lock(postLock_);
    closed_ = true;
  }
  // Free the tasks that were posted but never ran.
  if (Handle()) {
    MSG msg;
    while (PeekMessageW(&msg, Handle(), kMsgPost, kMsgPost, PM_REMOVE)) {
      delete reinterpret_cast<std::function<void()>*>(msg.lParam);
    }
  }
  for (auto& [id, timer] : timers_) KillTimer(Handle(), id);
  if (g_instance == this) g_instance = nullptr;
}

TApplication* TApplication::Instance() { return g_instance; }

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  SetWindowTextW(Handle(), Widen(title_).c_str());
}

int TApplication::AddMessageFilter(MessageFilter filter) {
  filters_.emplace_back(nextFilterId_, std::move(filter));
  return nextFilterId_++;
}

void TApplication::RemoveMessageFilter(int id) {
  for (auto it = filters_.begin(); it != filters_.end(); ++it) {
    if (it->first == id) {
      filters_.erase(it);
      return;
    }
  }
}

bool TApplication::Dispatch(MSG& msg) {
  // Newest filter first: a modal form sees keys before the forms under it.
  for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
    MessageFilter f = it->second;  // a filter may remove itself
    if (f(msg)) return true;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

int TApplication::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
  return static_cast<int>(msg.wParam);
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the loop that ends on it
      return;
    }
    Dispatch(msg);
  }
}

bool TApplication::RunModal(const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 0);
      return false;
    }
    Dispatch(msg);
  }
  return true;
}

void TApplication::Post(std::function<void()> task) {
  auto* heap = new std::function<void()>(std::move(task));
  std::lock_guard<std::mutex> lock(postLock_);
  if (closed_ || !Handle() || !PostMessageW(Handle(), kMsgPost, 0, reinterpret_cast<LPARAM>(heap))) delete heap;
}

bool TApplication::Send(std::function<void()> task) {
  if (IsGuiThread()) {
    task();
    return true;
  }
  HWND target;
  {
    std::lock_guard<std::mutex> lock(postLock_);
    if (closed_ || !Handle()) return false;
    target = Handle();
  }
  SendPacket packet{&task, false};
  SendMessageW(target, kMsgSend, 0, reinterpret_cast<LPARAM>(&packet));
  return packet.ran;
}

bool TApplication::IsGuiThread() const { return GetCurrentThreadId() == guiThread_; }

std::unique_ptr<IPollTimer> TApplication::CreateTimer() {
  return std::make_unique<Timer>(*this, nextTimerId_++);
}

LRESULT TApplication::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kMsgPost: {
      std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lp));
      (*task)();
      return 0;
    }
    case kMsgSend: {
      auto* packet = reinterpret_cast<SendPacket*>(lp);
      (*packet->task)();
      packet->ran = true;
      return 0;
    }
    case WM_TIMER: {
      auto it = timers_.find(wp);
      if (it != timers_.end()) it->second->Tick();
      return 0;
    }
    case kMciNotify:
      if (OnMciNotify) OnMciNotify(wp, lp);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE && MainWindow && IsWindowVisible(MainWindow)) {
        HWND target = GetLastActivePopup(MainWindow);
        SetForegroundWindow(target && IsWindowVisible(target) ? target : MainWindow);
        return 0;
      }
      return Default(msg, wp, lp);
    case WM_CLOSE:
      // Closing the application window would end nothing: the main window
      // owns the program's life.
      return 0;
    default:
      return Default(msg, wp, lp);
  }
}

}  // namespace zelt
