// The checker's life, the poll and the hand-over of replies to the GUI thread.
#include "core/uChecker.h"

#include <algorithm>

#include "BuildConfig.h"
#include "core/ReplyDecoding.h"
#include "core/Traffic.h"

namespace zelt {

TChecker* Checker = nullptr;
const char* const kNetErrorText = "Ошибка сети ";

std::string ForumBaseUrl() { return std::string(build::kForumSite) + "/forum/"; }

TChecker::TChecker(CheckerPorts ports)
    : gui_(ports.Gui),
      registry_(ports.Registry),
      sound_(ports.Sound),
      clock_(ports.Clock),
      programDir_(std::move(ports.ProgramDir)),
      exePath_(std::move(ports.ExePath)),
      forumBase_(ForumBaseUrl()),
      alive_(std::make_shared<char>()) {
  ResetSettings();
  ResetTraffic();

  Loader = std::make_unique<HTTPDownload>(std::move(ports.Http), gui_);
  Loader->Options.UserAgent = kUserAgent;
  // Anything longer is no informer reply: it fails like a broken connection.
  Loader->Options.Limits.MaxBodyBytes = kMaxReplyBytes;
  Loader->Options.Limits.DeadlineMs = kRequestDeadlineMs;

  PollTimer = std::move(ports.Timer);
  PollTimer->SetInterval(60000);
  PollTimer->SetEnabled(false);
  PollTimer->SetOnTick([this] { Tick(); });

  LoadData();
  BindLoader(RequestNow(), sent_);
  WriteInstallPath();
  Checker = this;
}

TChecker::~TChecker() {
  if (Checker == this) Checker = nullptr;
  PollTimer->SetEnabled(false);
  PollTimer->SetOnTick(nullptr);
  ClearItems();
  // Posted replies become no-ops, then the request is stopped before its
  // events are unbound, so no handler runs while they change.
  alive_.reset();
  Loader->Stop();
  Loader->Options.UserAgent.clear();
  Loader->OnDownloaded = nullptr;
  Loader->OnError = nullptr;
  Loader.reset();
  PollTimer.reset();
  ReadMarks.Clear();
  ForumNames.Clear();
  Favorites.Clear();
  sound_.Stop();
  sound_.Close();
  ResetSettings();
}

const std::filesystem::path& TChecker::ProgramDir() const { return programDir_; }
const std::filesystem::path& TChecker::ExePath() const { return exePath_; }

bool IsForumLink(std::string_view link) {
  const std::string base = ForumBaseUrl();
  return link.starts_with(base) && IsTopicPath(link.substr(base.size()));
}

void TChecker::BindLoader(TRequestKind asked, uint32_t number) {
  // The component raises both events on its request thread: copy what they
  // carry and apply it on the GUI thread, unless the checker is gone by then.
  std::weak_ptr<char> alive = alive_;
  IGuiQueue* gui = &gui_;
  Loader->OnDownloaded = [this, alive, gui, asked, number](HTTPDownload&, TMemoryStream& data) {
    gui->Post([this, alive, asked, number, body = data.Bytes] {
      if (!alive.lock()) return;
      if (number >= replacedBelow_) {
        HandleReply(body, asked);
      } else {
        ApplyReply(body, asked);
        RaiseStatus(csDone);
      }
    });
  };
  Loader->OnError = [this, alive, gui, number](HTTPDownload&, uint16_t code) {
    gui->Post([this, alive, number, code] {
      if (alive.lock() && number >= replacedBelow_) HandleNetError(code);
    });
  };
}

void TChecker::RaiseStatus(int32_t code) {
  if (OnStatus) OnStatus(code);
}

void TChecker::StartPolling() {
  PollTimer->SetEnabled(true);
  Poll();
}

void TChecker::Poll() { PollNow(true); }

void TChecker::PollNow(bool countMinutes) {
  // Asleep, nothing goes out; the resume brings a catch-up poll.
  if (suspended_) return;
  if (countMinutes) {
    // Minutes count toward the periodic save even when no request follows.
    // Unsigned arithmetic: a damaged interval must not overflow the count.
    MinutesSinceSave = static_cast<int32_t>(static_cast<uint32_t>(MinutesSinceSave) +
                                            static_cast<uint32_t>(IntervalMs / 1000 / 60));
    if (MinutesSinceSave >= 60) {
      MinutesSinceSave = 0;
      SaveData();
    }
  }
  if (Loader->Busy || awaitingReply_) return;

  RaiseStatus(csRequestSent);
  HaveData = !LastReply.empty();
  const TRequestKind asked = RequestNow();
  std::string url = std::string(build::kInformerUrl) + "inf.php?c=" + std::to_string(asked.TopicCount) + "&u=" +
                    kClientVersion + "&p=" + (asked.ForumList ? "2" : HaveData ? "1" : "0");
  // The Loader is idle: its events may be bound anew for this request.
  BindLoader(asked, ++sent_);
  awaitingReply_ = Loader->Start(url);
  TotalOutBytes += kRequestBytes;
  LastOutBytes = kRequestBytes;
}

void TChecker::ResetReply() {
  LastReply.clear();
  HaveData = false;
}

void TChecker::HandleReply(const std::string& body, TRequestKind asked) {
  awaitingReply_ = false;
  ApplyReply(body, asked);
  Recovered();
  RaiseStatus(csDone);
}

void TChecker::ApplyReply(const std::string& body, TRequestKind asked) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  if (asked.ForumList) {
    NeedForumList = false;
    const std::string text = InflateReply(body);
    ReadForumList(text, ForumNames);
    SaveData();
    LastInUnpacked = static_cast<uint32_t>(text.size());
  } else {
    std::string flag = "0";
    std::string_view rest(body);
    if (body.size() == 1) {
      flag = body;
      rest = {};
    }
    std::string text;
    if (rest.empty()) {
      text = flag + LastReply;
      LastInUnpacked = n;
    } else {
      text = InflateReply(rest);
      LastInUnpacked = static_cast<uint32_t>(text.size());
    }
    ParseReply(std::move(text), asked.TopicCount);
  }
  LastInBytes = n;
  TotalInBytes += n;
  TotalInUnpacked += LastInUnpacked;
}

void TChecker::HandleNetError(uint16_t code) {
  awaitingReply_ = false;
  // A failure while a catch-up is pending or during sleep belongs to the
  // network that was; the catch-up poll tells how things stand now.
  quietError_ = suspended_ || catchUpPending_ || (recovering_ && errorSounded_);
  if (recovering_ && !quietError_) errorSounded_ = true;
  RetryLater();
  if (OnNetError) OnNetError(kNetErrorText, code);
}

}  // namespace zelt
