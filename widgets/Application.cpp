#include "widgets/Application.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "base/Text_win.h"

namespace zelt {

namespace {
// The messages of the queue window carry nothing: one per posted task says
// "run the oldest posted task", one per sent task "run the sent tasks".
// A stray or forged one at most runs a task of ours a little early.
constexpr UINT kMsgRunPosted = WM_APP + 1;
constexpr UINT kMsgRunSent = WM_APP + 2;
constexpr UINT kMciNotify = 0x3B9;  // MM_MCINOTIFY

TApplication* g_instance = nullptr;

// Messages of the kinds the system only sends, each with a pointer our
// windows follow, and a control's notifications: posted, one is emptied
// before it is dispatched.
LRESULT CALLBACK EmptyPostedOnlySent(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    MSG& msg = *reinterpret_cast<MSG*>(lp);
    switch (msg.message) {
      case WM_COMMAND:  // from a control when it names one; menus post theirs without
        if (!msg.lParam) break;
        [[fallthrough]];
      case WM_NCCREATE:
      case WM_CREATE:
      case WM_NOTIFY:
      case WM_DRAWITEM:
      case WM_DPICHANGED:
      case WM_WINDOWPOSCHANGING:
      case WM_GETDLGCODE:
        msg.message = WM_NULL;
        msg.wParam = 0;
        msg.lParam = 0;
        break;
      default:
        break;
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}
}  // namespace

// A task sent from another thread; it lives on the sender's stack, and the
// sender does not return before the GUI thread is done with it.
struct TApplication::SendPacket {
  enum class Stage { Queued, Running, Done };
  std::function<void()>* Task;
  Stage Current = Stage::Queued;
  std::condition_variable Done;
};

// Message-only: it gets no broadcast, and it is the only window that runs tasks.
class TApplication::QueueWindow final : public TWindow {
 public:
  explicit QueueWindow(TApplication& app) : app_(app) {
    CreateWnd(L"ZeltQueue", 0, 0, std::string(), 0, 0, 0, 0, HWND_MESSAGE);
  }
  ~QueueWindow() override {
    if (Handle()) DestroyWindow(Handle());
  }

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    return app_.OnQueueMessage(msg, wp, lp) ? 0 : Default(msg, wp, lp);
  }

 private:
  TApplication& app_;
};

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
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled_) {
      Arm();
    } else if (app_.QueueHandle()) {
      KillTimer(app_.QueueHandle(), id_);
    }
  }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()> tick) override { tick_ = std::move(tick); }
  // A WM_TIMER with this timer's id. Only one that comes while the timer is
  // armed, and not sooner than its interval after it was armed or last
  // acted, is its own tick; the system's may come early by as much as the
  // previous one was handled late, hence the quarter.
  void Tick() {
    const auto now = Clock::now();
    if (!enabled_ || interval_ == 0 || now - since_ < std::chrono::milliseconds(interval_ - interval_ / 4)) return;
    since_ = now;
    if (tick_) tick_();
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Arm() {
    since_ = Clock::now();
    if (app_.QueueHandle() && interval_ > 0) SetTimer(app_.QueueHandle(), id_, interval_, nullptr);
  }
  TApplication& app_;
  UINT_PTR id_;
  uint32_t interval_ = 1000;
  bool enabled_ = false;
  Clock::time_point since_;  // armed or last acted
  std::function<void()> tick_;
};

TApplication::TApplication(const std::string& title, IDesktop& desktop)
    : title_(title), desktop_(desktop), guiThread_(GetCurrentThreadId()) {
  g_instance = this;
  postedOnlySent_ = SetWindowsHookExW(WH_GETMESSAGE, &EmptyPostedOnlySent, nullptr, guiThread_);
  queue_ = std::make_unique<QueueWindow>(*this);
}

HWND TApplication::Owner() {
  if (!Handle())
    CreateWnd(L"ZeltApplication", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, title_, 0, 0, 0, 0,
              nullptr);
  return Handle();
}

TApplication::~TApplication() {
  std::deque<std::function<void()>> dropped;
  {
    std::unique_lock<std::mutex> lock(postLock_);
    closed_ = true;
    // Tasks that were posted but never ran are freed without running; the
    // threads waiting for a sent task are let go, and have left before the
    // queue they wait in goes.
    dropped.swap(posted_);
    for (SendPacket* packet : sent_) packet->Done.notify_all();
    senderLeft_.wait(lock, [&] { return sent_.empty(); });
  }
  for (auto& [id, timer] : timers_) KillTimer(QueueHandle(), id);
  queue_.reset();
  dropped.clear();
  if (postedOnlySent_) UnhookWindowsHookEx(postedOnlySent_);
  if (g_instance == this) g_instance = nullptr;
}

HWND TApplication::QueueHandle() const { return queue_ ? queue_->Handle() : nullptr; }

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
  std::lock_guard<std::mutex> lock(postLock_);
  if (closed_ || !QueueHandle()) return;  // dropped: destroyed without running
  posted_.push_back(std::move(task));
  // One message per task, as a nested message loop (a side window, a
  // message box) must go on running the tasks posted while it is open.
  if (!PostMessageW(QueueHandle(), kMsgRunPosted, 0, 0)) posted_.pop_back();
}

bool TApplication::Send(std::function<void()> task) {
  if (IsGuiThread()) {
    task();
    return true;
  }
  SendPacket packet;
  packet.Task = &task;
  std::unique_lock<std::mutex> lock(postLock_);
  if (closed_ || !QueueHandle()) return false;
  sent_.push_back(&packet);
  if (!PostMessageW(QueueHandle(), kMsgRunSent, 0, 0)) {
    sent_.pop_back();
    return false;
  }
  // Until the GUI thread is done with the task, or the application ends
  // before it got to it.
  packet.Done.wait(lock, [&] {
    return packet.Current == SendPacket::Stage::Done || (closed_ && packet.Current == SendPacket::Stage::Queued);
  });
  if (packet.Current == SendPacket::Stage::Done) return true;
  sent_.erase(std::remove(sent_.begin(), sent_.end(), &packet), sent_.end());
  senderLeft_.notify_all();
  return false;
}

void TApplication::RunSent() {
  for (;;) {
    SendPacket* packet;
    {
      std::lock_guard<std::mutex> lock(postLock_);
      if (sent_.empty()) return;
      packet = sent_.front();
      sent_.pop_front();
      packet->Current = SendPacket::Stage::Running;
    }
    (*packet->Task)();
    std::lock_guard<std::mutex> lock(postLock_);
    packet->Current = SendPacket::Stage::Done;
    packet->Done.notify_all();
  }
}

void TApplication::RunOnePosted() {
  std::function<void()> task;
  {
    std::lock_guard<std::mutex> lock(postLock_);
    if (posted_.empty()) return;
    task = std::move(posted_.front());
    posted_.pop_front();
  }
  task();
}

bool TApplication::IsGuiThread() const { return GetCurrentThreadId() == guiThread_; }

std::unique_ptr<IPollTimer> TApplication::CreateTimer() {
  return std::make_unique<Timer>(*this, nextTimerId_++);
}

bool TApplication::OnQueueMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kMsgRunPosted:
      RunOnePosted();
      return true;
    case kMsgRunSent:
      RunSent();
      return true;
    case WM_TIMER: {
      auto it = timers_.find(wp);
      if (it != timers_.end()) it->second->Tick();
      return true;
    }
    case kMciNotify:
      if (OnMciNotify) OnMciNotify(wp, lp);
      return true;
    default:
      return false;
  }
}

LRESULT TApplication::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
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
