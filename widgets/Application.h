// The application object: a hidden top-level window that carries the GUI
// queue (tasks from other threads), the timers and the MCI notices, and the
// message loop. It owns the application's caption.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Ports.h"
#include "widgets/Window.h"

namespace zelt {

class TApplication final : public TWindow, public IGuiQueue {
 public:
  explicit TApplication(const std::string& title);
  ~TApplication() override;

  // The one application object, or null before it exists / after it is gone.
  static TApplication* Instance();

  const std::string& Title() const { return title_; }
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

  // A timer ticking on this window.
  std::unique_ptr<IPollTimer> CreateTimer();

  // The window that the taskbar entry (this window) stands for: activating
  // the entry activates it, or the modal window in front of it.
  HWND MainWindow = nullptr;

  // MCI end-of-command notices (MM_MCINOTIFY): wParam code, lParam device id.
  std::function<void(WPARAM code, LPARAM deviceId)> OnMciNotify;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  class Timer;
  friend class Timer;
  bool Dispatch(MSG& msg);

  std::string title_;
  DWORD guiThread_;
  std::mutex postLock_;
  bool closed_ = false;
  std::map<UINT_PTR, Timer*> timers_;
  UINT_PTR nextTimerId_ = 1;
  std::vector<std::pair<int, MessageFilter>> filters_;
  int nextFilterId_ = 1;
};

}  // namespace zelt
