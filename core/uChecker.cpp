// The checker's life, the poll, data.dat, the registry values and the sounds.
#include "core/uChecker.h"

#include "base/SafeFile.h"
#include "core/ReplyDecoding.h"

namespace zelt {

using enum TCheckerStatus;

const char* const kNetErrorText = "Ошибка сети ";

TChecker::TChecker(CheckerPorts ports)
    : registry_(ports.Registry),
      sound_(ports.Sound),
      clock_(ports.Clock),
      programDir_(std::move(ports.ProgramDir)),
      exePath_(std::move(ports.ExePath)),
      scheduler_(std::move(ports.Timer), [this](TTickKind kind) { Tick(kind); }),
      request_(std::move(ports.Http), ports.Gui) {
  topicEvents_.ListCleared = [this] { RaiseStatus(csListCleared); };
  topicEvents_.Item = [this](const TItemData& item) {
    if (OnItem) OnItem(item);
  };
  // The user's own post is on disk as read at once, as any read mark.
  topicEvents_.MarkWritten = [this] { SaveData(); };
  topicEvents_.NewMessages = [this] { RaiseStatus(csNewMessages); };
  topicEvents_.NewVersion = [this] { RaiseStatus(csNewVersion); };

  LoadData();
  WriteInstallPath();
}

TChecker::~TChecker() {
  scheduler_.Stop();
  // Nothing of the request, in the network or queued, reaches the checker now.
  request_.Stop();
  sound_.Stop();
  sound_.Close();
}

// --- data.dat and the registry ---

void TChecker::SaveData() {
  // A file that cannot be written is not reported: the state stays in memory
  // and the previous file stays whole.
  ReplaceFileBytes(programDir_ + PathName(kDataFileName), SerializeDataImage({traffic_, settings_, topics_.Lists()}));
  SetAutoStart(settings_.AutoStart);
}

void TChecker::LoadData() {
  settings_ = {};
  traffic_.Reset(clock_.Now());
  TDataImage image{traffic_, settings_, topics_.Lists()};
  std::string bytes;
  if (ReadFileBytes(programDir_ + PathName(kDataFileName), bytes)) ParseDataImage(bytes, image);
  BoundStoredLists(image, ForumBaseUrl().size());
  traffic_ = image;
  settings_ = image;
  topics_.SetLists(std::move(image));

  // Taken once: a proxy changed later applies at the next start. Anything
  // longer or slower is no informer reply: it fails like a broken connection.
  options_ = {.UserAgent = kUserAgent,
              .ProxyServer = settings_.ProxyServer,
              .ProxyPort = settings_.ProxyPort,
              .UseSystemProxy = settings_.UseIESettings,
              .Limits = {.MaxBodyBytes = kMaxReplyBytes, .DeadlineMs = kRequestDeadlineMs}};

  BringIntoRange(settings_);
  scheduler_.SetInterval(static_cast<uint32_t>(settings_.IntervalMs));
}

void TChecker::WriteInstallPath() { registry_.WriteString(kInstallKey, kInstallValue, WidePath(exePath_), true); }

void TChecker::SetAutoStart(bool on) {
  // Quoted: Windows runs an unquoted path with blanks by trying each prefix
  // ("C:\Program.exe" first) at every logon.
  if (on)
    registry_.WriteString(kRunKey, kRunValue, L"\"" + WidePath(exePath_) + L"\"", false);
  else
    registry_.DeleteValue(kRunKey, kRunValue);
}

// --- commands ---

void TChecker::ResetReply() { topics_.ResetReply(); }

void TChecker::MarkItemRead(const TItemData& item) {
  topics_.MarkItemRead(item);
  SaveData();
}

bool TChecker::MarkRead(const TItemData& item) {
  const bool wasUnread = !item.Read;
  MarkItemRead(item);
  return wasUnread && topics_.CountDown();
}

void TChecker::MarkAllRead(std::span<const TItemData* const> topics) {
  for (const TItemData* item : topics)
    if (item) MarkItemRead(*item);
  topics_.ClearUnreadCount();
}

void TChecker::AddFavorite(const TItemData& item) {
  if (topics_.AddFavorite(item)) SaveData();
}

void TChecker::DeleteFavorite(size_t entry) {
  topics_.DeleteFavorite(entry);
  SaveData();
}

void TChecker::ClearFavorites() {
  topics_.ClearFavorites();
  SaveData();
}

void TChecker::ApplySettings(const TSettings& settings) {
  if (settings.TopicCount != settings_.TopicCount) ResetReply();
  settings_ = settings;
  SaveData();
  StartPolling();
}

void TChecker::SetSound(TSoundEvent event, std::string path) { settings_.Sound(event) = std::move(path); }

void TChecker::SelectSound(TSoundEvent event) {
  soundToPlay_ = settings_.Sound(event);
  // Whatever still plays ends first; the same event twice plays twice.
  sound_.Stop();
  sound_.Close();
  if (soundToPlay_.empty()) return;
  if (!sound_.SetFileName(soundToPlay_)) return;
  sound_.Play();
}

void TChecker::CountUpdate(uint32_t received) { traffic_.CountUpdate(received); }

void TChecker::ResetTraffic() { traffic_.Reset(clock_.Now()); }

// --- the poll ---

void TChecker::RaiseStatus(TCheckerStatus status) {
  if (OnStatus) OnStatus(status);
}

void TChecker::StartPolling() {
  scheduler_.Start();
  Poll();
}

void TChecker::Poll() { PollNow(true); }

void TChecker::Tick(TTickKind kind) {
  if (kind == TTickKind::Interval) {
    Poll();
    return;
  }
  // A request begun before the machine slept or the network changed waits
  // on a connection that is gone, or its outcome waits in the queue: the
  // catch-up replaces it. What it has posted still comes, as a replaced
  // request's.
  if (request_.Pending()) {
    request_.Abandon();
    replacedBelow_ = sent_ + 1;
  }
  PollNow(false);
}

void TChecker::PollNow(bool countMinutes) {
  // Asleep, nothing goes out; the resume brings a catch-up poll.
  if (scheduler_.Suspended()) return;
  // Minutes count toward the periodic save even when no request follows.
  if (countMinutes && scheduler_.CountPollMinutes(settings_.IntervalMs)) SaveData();
  if (request_.Pending()) return;

  RaiseStatus(csRequestSent);
  const bool haveData = !topics_.LastReply().empty();
  const TRequestKind asked = RequestNow();
  std::string url = std::string(build::kInformerUrl) + "inf.php?c=" + std::to_string(asked.TopicCount) + "&u=" +
                    kClientVersion + "&p=" + (asked.ForumList ? "2" : haveData ? "1" : "0");
  const uint32_t number = ++sent_;
  TRequestEvents events;
  events.Downloaded = [this, asked, number](std::string body) {
    if (number >= replacedBelow_) {
      HandleReply(body, asked);
    } else {
      ApplyReply(body, asked);
      RaiseStatus(csDone);
    }
  };
  events.Failed = [this, number](uint16_t code) {
    if (number >= replacedBelow_) HandleNetError(code);
  };
  request_.Start(url, options_, std::move(events));
  traffic_.CountRequest();
}

void TChecker::HandleReply(const std::string& body, TRequestKind asked) {
  ApplyReply(body, asked);
  scheduler_.Replied();
  RaiseStatus(csDone);
}

void TChecker::ApplyReply(const std::string& body, TRequestKind asked) {
  const auto n = static_cast<uint32_t>(body.size());
  if (asked.ForumList) {
    const std::string text = InflateReply(body);
    topics_.ApplyForumList(text);
    SaveData();
    traffic_.CountReply(n, static_cast<uint32_t>(text.size()));
    return;
  }
  TTopicText reply = TopicReplyText(body, topics_.LastReply());
  // Known before the topics apply: a save they make holds it.
  traffic_.LastInUnpacked = reply.Unpacked;
  topics_.ParseReply(std::move(reply.Text), asked.TopicCount, {settings_.IgnoreOwnPosts, settings_.Nick},
                     topicEvents_);
  traffic_.CountReply(n, reply.Unpacked);
}

void TChecker::HandleNetError(uint16_t code) {
  scheduler_.Failed();
  if (OnNetError) OnNetError(kNetErrorText, code);
}

}  // namespace zelt
