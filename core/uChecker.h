// TChecker: the core object. It owns the settings, the traffic counters, the
// topics with their read marks, favourites and forum names, the poll
// scheduler and the request channel to the informer server, and reports each
// step of a poll through three events. Windows read it through its views and
// change it through its commands. Everything here runs on the GUI thread;
// replies reach it through the GUI queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "base/Path.h"
#include "base/Ports.h"
#include "base/Version.h"
#include "core/DataFile.h"
#include "core/PollScheduler.h"
#include "core/Settings.h"
#include "core/Topics.h"
#include "core/Traffic.h"
#include "net/GuiRequest.h"
#include "net/RequestOptions.h"

namespace zelt {

// The steps of a poll, as OnStatus reports them.
enum class TCheckerStatus : int32_t {
  csRequestSent = 1,
  csDone = 2,
  csNewVersion = 3,
  csNewMessages = 4,
  csListCleared = 5,
};

// What the checker needs from the platform. The two paths are the system's
// own (UTF-16 on Windows): a folder named outside cp1251 must still work.
struct CheckerPorts {
  IGuiQueue& Gui;
  SharedTransport Http;
  std::unique_ptr<IPollTimer> Timer;
  IRegistry& Registry;
  ISoundPlayer& Sound;
  const IClock& Clock;
  TPathString ProgramDir;  // the executable's folder, ending in a separator
  TPathString ExePath;     // full path of the running executable
};

// What a request asked for, fixed when it is sent: its reply is read as that
// kind and applies at most that many topics, whatever changed meanwhile.
struct TRequestKind {
  bool ForumList = false;
  int32_t TopicCount = 0;
};

class TChecker {
 public:
  explicit TChecker(CheckerPorts ports);
  ~TChecker();
  TChecker(const TChecker&) = delete;
  TChecker& operator=(const TChecker&) = delete;

  std::function<void(const TItemData& item)> OnItem;
  std::function<void(const std::string& text, uint16_t code)> OnNetError;
  std::function<void(TCheckerStatus status)> OnStatus;

  // --- views ---
  const TSettings& Settings() const { return settings_; }
  const TTrafficCounters& Traffic() const { return traffic_; }
  const TTopics& Topics() const { return topics_; }
  const std::vector<std::unique_ptr<TItemData>>& Items() const { return topics_.Items(); }
  int32_t UnreadCount() const { return topics_.UnreadCount(); }
  bool UpdateAvailable() const { return topics_.UpdateAvailable(); }
  const TStringList& Favorites() const { return topics_.Lists().Favorites; }
  // The options of every informer request, taken from the settings at the
  // start; the update windows take their agent and proxy.
  const TRequestOptions& RequestOptions() const { return options_; }
  // The informer request (whether one is under way, its URL).
  const TGuiRequest& Request() const { return request_; }
  const TPathString& ProgramDir() const { return programDir_; }
  // True while the failure being reported should make no sound (see TPollScheduler).
  bool QuietError() const { return scheduler_.QuietError(); }

  // --- commands ---
  // Starts the poll timer (a second call does not restart its interval) and polls at once.
  void StartPolling();
  // One request, unless one is running; its minutes count toward the periodic save.
  void Poll();
  // The next request asks for the full list.
  void ResetReply();
  void SaveData();
  // Marks the topic read and saves.
  void MarkItemRead(const TItemData& item);
  // The user opened the topic: MarkItemRead, and one topic fewer is unread
  // when it was unread; true when the unread count went down.
  bool MarkRead(const TItemData& item);
  // Marks the topics read in this order (the list's, as shown), each saved
  // at once; then none is unread.
  void MarkAllRead(std::span<const TItemData* const> topics);
  // Adds the topic to the favourites (saved) unless it is there already.
  void AddFavorite(const TItemData& item);
  // Deletes favourite number `entry` (if there is one), or all of them; saves.
  void DeleteFavorite(size_t entry);
  void ClearFavorites();
  // The settings window's save: a new topic count makes the next request ask
  // for the full list; then the settings are kept and saved, and a poll goes
  // out. The timer's interval and the request's proxy keep their values
  // until the next start of the program.
  void ApplySettings(const TSettings& settings);
  // The sound scheme: the file of an event (saved with the next save).
  void SetSound(TSoundEvent event, std::string path);
  // Plays the event's sound; whatever still plays ends first.
  void SelectSound(TSoundEvent event);
  // An update file received (the update windows).
  void CountUpdate(uint32_t received);
  // The counters to 0, counting from now (saved with the next save).
  void ResetTraffic();
  // The machine around the program (see TPollScheduler).
  void CatchUp() { scheduler_.CatchUp(); }
  void Suspend() { scheduler_.Suspend(); }

  // --- the steps behind a poll, public for the tests ---
  // The reply handler proper, on the GUI thread: the body as received, for a
  // request of the given kind (by default one sent now).
  void HandleReply(const std::string& body, TRequestKind asked);
  void HandleReply(const std::string& body) { HandleReply(body, RequestNow()); }
  // The network error handler, on the GUI thread.
  void HandleNetError(uint16_t code);

 private:
  // The kind of request that Poll would send now.
  TRequestKind RequestNow() const { return {topics_.NeedForumList(), settings_.TopicCount}; }
  void LoadData();
  void WriteInstallPath();
  void SetAutoStart(bool on);
  void RaiseStatus(TCheckerStatus status);
  void Tick(TTickKind kind);
  // The request itself; `countMinutes` is false for the catch-up and retry
  // polls, which are no interval's tick.
  void PollNow(bool countMinutes);
  // A reply as it changes the topics and counters (all of HandleReply but
  // the end of the poll).
  void ApplyReply(const std::string& body, TRequestKind asked);

  IRegistry& registry_;
  ISoundPlayer& sound_;
  const IClock& clock_;
  TPathString programDir_;
  TPathString exePath_;
  TSettings settings_;
  TTrafficCounters traffic_;
  TTopics topics_;
  TTopicEvents topicEvents_;
  TPollScheduler scheduler_;
  TRequestOptions options_;
  // No request goes out while one is pending: Busy turns false before its
  // reply, posted to the GUI queue, has run.
  TGuiRequest request_;
  std::string soundToPlay_;
  // Requests are numbered as they are sent; a catch-up replaces every one
  // sent so far, those below replacedBelow_. A replaced request's reply
  // still counts (it is news), its failure does not (the network it failed
  // on is gone).
  uint32_t sent_ = 0;
  uint32_t replacedBelow_ = 0;
};

// The largest reply body taken from the informer server.
inline constexpr uint32_t kMaxReplyBytes = 1u << 20;
// The longest an informer request, or a small request to the update server,
// may take: a server that answers slower (or one byte at a time) fails like
// a broken connection, and the next poll goes out.
inline constexpr uint32_t kRequestDeadlineMs = 60000;
// The agent string of every request.
inline constexpr const char* kUserAgent = build::kProductName;
inline constexpr const char* kClientVersion = build::kVersion;
// Reported with every failed request.
extern const char* const kNetErrorText;

}  // namespace zelt
