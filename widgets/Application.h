// The application object: a hidden top-level window that owns the taskbar
// entry, the application's caption and the message boxes, and the message
// loop, and the desktop port its windows reach the shell through (the
// program hands it the system's, tests a fake). The GUI queue (tasks from other threads), the timers and the MCI
// notices live on a message-only window of its own, which no broadcast
// reaches; tasks wait in a locked queue and a message only says "drain", so
// nothing another program sends can make it run or free anything. A timer
// acts only on a tick that comes when it is due, so a WM_TIMER another
// program posts with its id does nothing.
//
// The messages the system only ever sends carry pointers the windows follow
// (creation, notifications, drawing, a change of DPI), and controls send
// their notifications: one of them posted is another program's, and a hook
// on this thread's queue empties it before any message loop (ours, a
// message box's, a menu's) dispatches it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Ports.h"
#include "widgets/Desktop.h"
#include "widgets/Window.h"

namespace zelt {

class TApplication final : public TWindow, public IGuiQueue {
 public:
  // The desktop outlives the application object.
  TApplication(const std::string& title, IDesktop& desktop);
  ~TApplication() override;

  // The one application object, or null before it exists / after it is gone.
  static TApplication* Instance();

  const std::string& Title() const { return title_; }
  IDesktop& Desktop() const { return desktop_; }
  void SetTitle(const std::string& title);

  // Runs the message loop until WM_QUIT; returns its exit code.
  int Run();
  // Handles every pending message, then returns.
  void ProcessMessages();
  // A nested message loop (modal windows): dispatches messages until `done`
  // answers true after a message, or WM_QUIT arrives (which is left queued for
  // the outer loop). Returns false on WM_QUIT.
  bool RunModal(const std::function<bool()>& done);
  // A filter sees each queued message before it is dispatched; returning true
  // swallows it. Used by forms for keyboard preview and dialog navigation.
  using MessageFilter = std::function<bool(MSG&)>;
  int AddMessageFilter(MessageFilter filter);
  void RemoveMessageFilter(int id);

  // IGuiQueue
  void Post(std::function<void()> task) override;
  bool Send(std::function<void()> task) override;
  bool IsGuiThread() const override;

  // A timer ticking on the queue window.
  std::unique_ptr<IPollTimer> CreateTimer();

  // The hidden top-level window that owns the taskbar entry, the main window
  // and the message boxes. It is made when first asked for: at the start the
  // first request goes out while it is made.
  HWND Owner();

  // The window that the taskbar entry (this window) stands for: activating
  // the entry activates it, or the modal window in front of it.
  HWND MainWindow = nullptr;

  // The message-only window that carries the queue, the timers and the MCI
  // notices (the callback window of MCI commands).
  HWND QueueHandle() const;

  // MCI end-of-command notices (MM_MCINOTIFY): wParam code, lParam device id.
  std::function<void(WPARAM code, LPARAM deviceId)> OnMciNotify;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  class Timer;
  friend class Timer;
  class QueueWindow;
  friend class QueueWindow;
  struct SendPacket;
  bool Dispatch(MSG& msg);
  // GUI thread: the tasks sent from other threads, all of them; the oldest
  // posted task.
  void RunSent();
  void RunOnePosted();
  // The queue window's messages; false for those it leaves to the system.
  bool OnQueueMessage(UINT msg, WPARAM wp, LPARAM lp);

  std::string title_;
  IDesktop& desktop_;
  DWORD guiThread_;
  std::unique_ptr<QueueWindow> queue_;
  std::mutex postLock_;  // guards closed_, posted_, sent_ and every packet's state
  bool closed_ = false;
  std::deque<std::function<void()>> posted_;
  std::deque<SendPacket*> sent_;
  std::condition_variable senderLeft_;
  std::map<UINT_PTR, Timer*> timers_;
  UINT_PTR nextTimerId_ = 1;
  std::vector<std::pair<int, MessageFilter>> filters_;
  int nextFilterId_ = 1;
  HHOOK postedOnlySent_ = nullptr;
};

}  // namespace zelt
