// The few interfaces through which the portable code reaches the platform.
// The Win32 side implements them on the application window, advapi32 and MCI;
// the tests implement them with queues, maps and recorders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zelt {

// Runs work on the GUI thread, the one thread that owns all program state.
class IGuiQueue {
 public:
  virtual ~IGuiQueue() = default;
  // Queues the task for the GUI thread and returns at once. After shutdown the
  // task is dropped (destroyed without running).
  virtual void Post(std::function<void()> task) = 0;
  // Runs the task on the GUI thread and returns after it has run. Called on
  // the GUI thread itself, it runs the task at once. Returns false when the
  // task could not run (queue shut down).
  virtual bool Send(std::function<void()> task) = 0;
  // True on the GUI thread.
  virtual bool IsGuiThread() const = 0;
};

// The poll timer: a periodic tick on the GUI thread.
class IPollTimer {
 public:
  virtual ~IPollTimer() = default;
  virtual void SetInterval(uint32_t ms) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetOnTick(std::function<void()> tick) = 0;
};

// The two registry values the program keeps, the current user's own (under
// HKEY_CURRENT_USER): they never reach another account. Both
// hold the executable's path, so their text is the system's own (UTF-16 on
// Windows), never cp1251: a folder named in any script must survive.
class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // Opens the key with read and write access; when `create` is set and the
  // key cannot be opened, creates it. Writes a REG_SZ value. False on failure.
  virtual bool WriteString(const std::string& key, const std::string& name,
                           const std::wstring& value, bool create) = 0;
  // Opens the key (never creates it) and deletes the value. False on failure.
  virtual bool DeleteValue(const std::string& key, const std::string& name) = 0;
};

// Plays one sound file at a time.
class ISoundPlayer {
 public:
  virtual ~ISoundPlayer() = default;
  virtual void Stop() = 0;
  virtual void Close() = 0;
  // Sets the file and opens a device for it; false when nothing could be opened.
  virtual bool SetFileName(const std::string& path) = 0;
  virtual void Play() = 0;
};

// Whether the user is not to be disturbed now: the system reports a
// full-screen program (a game, a video), a presentation, or its notifications
// silenced (quiet hours).
class INotificationState {
 public:
  virtual ~INotificationState() = default;
  virtual bool UserBusy() const = 0;
};

// Local date and time as days since 1 January of the year 1 (= 1.0), the time
// of day as the fraction.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual double Now() const = 0;
};

}  // namespace zelt
