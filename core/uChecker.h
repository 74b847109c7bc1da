// TChecker: the core object. It owns the poll timer, the request channel to
// the informer server, the topics of the last reply, the read marks,
// favourites and forum names, the settings and the traffic counters, and
// reports each step of a poll through three events. Everything here runs on
// the GUI thread; replies reach it through the GUI queue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BuildConfig.h"
#include "base/Ports.h"
#include "base/Version.h"
#include "core/DataFile.h"
#include "core/StringList.h"
#include "net/HTTPDownload.h"

namespace zelt {

// One topic of the current reply. Owned by TChecker::Items; list rows only
// point to it.
struct TItemData {
  std::string KeyLink;   // forum base URL + path + "-1": identity in ReadMarks
  std::string Title;
  std::string Replies;   // reply count as received
  std::string Author;    // author of the last message
  std::string OpenLink;  // forum base URL + path + "-0-17": what the browser opens
  std::string Forum;     // forum name
  bool Read = false;
  int32_t NewCount = 0;
};

enum TCheckerStatus : int32_t {
  csRequestSent = 1,
  csDone = 2,
  csNewVersion = 3,
  csNewMessages = 4,
  csListCleared = 5,
};

// The sound event names, in kind order 0, 1, 2.
extern const char* const kSoundEventNames[3];

// What the checker needs from the platform. The two paths are the system's
// own (UTF-16 on Windows): a folder named outside cp1251 must still work.
struct CheckerPorts {
  IGuiQueue& Gui;
  SharedTransport Http;
  std::unique_ptr<IPollTimer> Timer;
  IRegistry& Registry;
  ISoundPlayer& Sound;
  const IClock& Clock;
  std::filesystem::path ProgramDir;  // the executable's folder, ending in a separator
  std::filesystem::path ExePath;     // full path of the running executable
};

// What a request asked for, fixed when it is sent: its reply is read as that
// kind and applies at most that many topics, whatever changed meanwhile.
struct TRequestKind {
  bool ForumList = false;
  int32_t TopicCount = 0;
};

// The settings block and text settings are the TStoredSettings base.
class TChecker : public TStoredSettings {
 public:
  explicit TChecker(CheckerPorts ports);
  ~TChecker();
  TChecker(const TChecker&) = delete;
  TChecker& operator=(const TChecker&) = delete;

  // --- state (field order as kept by the program) ---
  int32_t UnreadCount = 0;
  int32_t MinutesSinceSave = 0;
  int32_t PrevUnreadCount = 0;
  bool UpdateAvailable = false;
  std::unique_ptr<IPollTimer> PollTimer;
  std::unique_ptr<HTTPDownload> Loader;
  TStringList ReadMarks;
  std::vector<std::unique_ptr<TItemData>> Items;
  std::function<void(TItemData* item)> OnItem;
  std::function<void(const std::string& text, uint16_t code)> OnNetError;
  std::function<void(int32_t code)> OnStatus;
  bool UpdateNotified = false;
  bool HaveData = false;
  std::string LastReply;
  TStringList ForumNames;
  TStringList Favorites;
  bool NeedForumList = false;
  std::string SoundToPlay;

  int32_t Tag = 0;  // the update choice travels here (1 full setup, 0 patch)

  // --- operations ---
  void StartPolling();
  void Poll();
  void ResetReply();
  void SaveData();
  void MarkItemRead(TItemData* item);
  void AddFavorite(TItemData* item);
  void SelectSound(int32_t kind);
  void ResetTraffic();
  void ResetSettings();

  // --- the machine around the program (resume, network, sleep) ---
  // The machine woke up or regained its network: poll once after a few
  // seconds of settling and restart the interval from there. Events close
  // together give one poll. A failing catch-up poll is retried at growing
  // delays, up to the interval, until a reply comes; of the failures from the
  // event to that reply only the first is reported aloud.
  void CatchUp();
  // The machine is going to sleep: no request starts until CatchUp, or
  // until the next tick of the poll timer, which goes on as CatchUp would:
  // anyone can announce a sleep, and a resume may get lost.
  void Suspend();
  bool Suspended() const { return suspended_; }
  // True while the failure being reported should make no sound: it belongs
  // to an outage that has been reported already, or a catch-up poll is about
  // to tell how things stand.
  bool QuietError() const { return quietError_; }

  const std::filesystem::path& ProgramDir() const;
  const std::filesystem::path& ExePath() const;

  // --- the steps behind the operations, public for the windows and the tests ---
  // The reply handler proper, on the GUI thread: the body as received, for a
  // request of the given kind (by default one sent now).
  void HandleReply(const std::string& body, TRequestKind asked);
  void HandleReply(const std::string& body) { HandleReply(body, RequestNow()); }
  // The network error handler, on the GUI thread.
  void HandleNetError(uint16_t code);
  // Applies a decompressed topic reply (flag character first), at most
  // `maxTopics` of its records (by default TopicCount).
  void ParseReply(std::string text, int32_t maxTopics);
  void ParseReply(std::string text) { ParseReply(std::move(text), TopicCount); }
  // The kind of request that Poll would send now.
  TRequestKind RequestNow() const { return {NeedForumList, TopicCount}; }
  // Frees the records of Items (without any event).
  void ClearItems();
  // Looks the topic up in ReadMarks: true when read at exactly this reply
  // count; `index` is the entry of the link or -1, `newCount` the replies
  // since it was read (all of them when never read).
  bool FindReadMark(const std::string& link, const std::string& replies, int32_t& index,
                    int32_t& newCount) const;
  void MarkRead(const std::string& link, const std::string& replies);
  // The name for a reply's forum field; a missing id asks for the forum list.
  std::string ForumName(const std::string& field);
  void LoadData();
  void WriteInstallPath();
  void SetAutoStart(bool on);

 private:
  void ApplyRecord(std::unique_ptr<TItemData> item);
  void RaiseStatus(int32_t code);
  // The request itself; `countMinutes` is false for the catch-up and retry
  // polls, which are no interval's tick.
  void PollNow(bool countMinutes);
  // The poll timer's tick: a catch-up or retry when one is due, else Poll.
  void Tick();
  // Runs the timer once after `ms`, then at its interval again.
  void ArmShort(uint32_t ms, bool catchUp);
  void DisarmShort();
  // After a reply or a failure: ends the outage or schedules its retry.
  void Recovered();
  void RetryLater();
  // Binds the Loader's events for request number `number`, which asks for
  // `asked`.
  void BindLoader(TRequestKind asked, uint32_t number);
  // A reply as it changes the topics and counters (all of HandleReply but
  // the end of the poll).
  void ApplyReply(const std::string& body, TRequestKind asked);

  IGuiQueue& gui_;
  IRegistry& registry_;
  ISoundPlayer& sound_;
  const IClock& clock_;
  std::filesystem::path programDir_;
  std::filesystem::path exePath_;
  std::string forumBase_;
  bool suspended_ = false;
  bool shortPending_ = false;    // the timer runs a catch-up or retry delay
  bool catchUpPending_ = false;  // ... and it is the settling of a CatchUp
  uint32_t intervalMs_ = 0;      // the timer's interval to return to
  bool recovering_ = false;      // from a CatchUp until a reply
  bool errorSounded_ = false;    // a failure of this outage has been reported aloud
  uint32_t retryMs_ = 0;         // the next retry's delay
  bool quietError_ = false;
  // A request has been sent and its reply (or failure) not yet handled here.
  // Busy turns false before the reply posted to the GUI queue runs; no
  // request may go out in that gap.
  bool awaitingReply_ = false;
  // Requests are numbered as they are sent; a catch-up replaces every one
  // sent so far, those below replacedBelow_. A replaced request's reply
  // still counts (it is news), its failure does not (the network it failed
  // on is gone).
  uint32_t sent_ = 0;
  uint32_t replacedBelow_ = 0;
  // Tasks posted by the request thread hold a weak reference; they do nothing
  // once the checker is gone.
  std::shared_ptr<char> alive_;
};

// Forum base URL: the forum site followed by "/forum/".
std::string ForumBaseUrl();
// Whether a topic or favourite link may be handed to the shell: the forum base
// URL followed by a topic path (IsTopicPath). Anything else (a file, a share,
// another site, a command line, another page of the forum host) is never
// opened.
bool IsForumLink(std::string_view link);
// The largest reply body taken from the informer server.
inline constexpr uint32_t kMaxReplyBytes = 1u << 20;
// The longest an informer request, or a small request to the update server,
// may take: a server that answers slower (or one byte at a time) fails like
// a broken connection, and the next poll goes out.
inline constexpr uint32_t kRequestDeadlineMs = 60000;
// The agent string of every request.
inline constexpr const char* kUserAgent = build::kProductName;
inline constexpr const char* kClientVersion = build::kVersion;
// Settling after a resume or a network change, before the catch-up poll.
inline constexpr uint32_t kCatchUpDelayMs = 3000;
// The first retry of a failed catch-up poll; each next one waits twice as long.
inline constexpr uint32_t kFirstRetryMs = 5000;
// Shown for a forum id whose name is not known yet.
extern const char* const kForumPlaceholder;
// Reported with every failed request.
extern const char* const kNetErrorText;

extern TChecker* Checker;

}  // namespace zelt
