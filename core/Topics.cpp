#include "core/Topics.h"

#include <algorithm>

#include "BuildConfig.h"
#include "core/ReplyDecoding.h"

namespace zelt {

namespace {
constexpr char kSep = '\x11';
// The caps of the five fields of a record, in reply order.
constexpr size_t kFieldCaps[5] = {kMaxTitleBytes, kMaxPathBytes, kMaxForumBytes, kMaxRepliesBytes, kMaxAuthorBytes};

void Raise(const std::function<void()>& event) {
  if (event) event();
}
}  // namespace

const char* const kForumPlaceholder = "<Будет отображено при следующей загрузке>";

std::string ForumBaseUrl() { return std::string(build::kForumSite) + "/forum/"; }

bool IsForumLink(std::string_view link) {
  const std::string base = ForumBaseUrl();
  return link.starts_with(base) && IsTopicPath(link.substr(base.size()));
}

TTopics::TTopics() : forumBase_(ForumBaseUrl()) {}

TTopics::~TTopics() { ClearItems(); }

void TTopics::ClearItems() {
  for (auto& item : items_) *item = TItemData{};
  items_.clear();
}

bool TTopics::FindReadMark(const std::string& link, const std::string& replies, int32_t& index,
                           int32_t& newCount) const {
  const int64_t replyCount = NumberValue(replies);
  index = -1;
  newCount = NumberValue(replies);
  for (size_t i = 0; i < lists_.ReadMarks.Count(); ++i) {
    std::string_view rest(lists_.ReadMarks[i]);
    const std::string_view storedLink = TakeField(rest);
    if (storedLink != link) continue;
    const std::string_view storedReplies = TakeField(rest);
    index = static_cast<int32_t>(i);
    if (storedReplies == replies) {
      newCount = 0;
      return true;
    }
    // Both counts are int32; their difference is clamped rather than wrapped.
    const int64_t diff = replyCount - NumberValue(storedReplies);
    newCount = static_cast<int32_t>(std::clamp<int64_t>(diff, INT32_MIN, INT32_MAX));
  }
  return false;
}

void TTopics::MarkRead(const std::string& link, const std::string& replies) {
  int32_t index = -1, newCount = 0;
  if (FindReadMark(link, replies, index, newCount)) return;
  TStringList& marks = lists_.ReadMarks;
  std::string entry = link + kSep + replies;
  if (index < 0)
    marks.Add(std::move(entry));
  else
    marks[static_cast<size_t>(index)] = std::move(entry);
  if (marks.Count() > kMaxReadMarks) marks.Delete(0);
}

void TTopics::Mark(TItemData& item) {
  MarkRead(item.KeyLink, item.Replies);
  item.Read = true;
}

void TTopics::MarkItemRead(const TItemData& item) {
  const auto own = std::find_if(items_.begin(), items_.end(), [&](const auto& i) { return i.get() == &item; });
  if (own != items_.end())
    Mark(**own);
  else
    MarkRead(item.KeyLink, item.Replies);
}

bool TTopics::CountDown() {
  if (unreadCount_ <= 0) return false;
  --unreadCount_;
  return true;
}

bool TTopics::AddFavorite(const TItemData& item) {
  TStringList& favorites = lists_.Favorites;
  std::string entry = item.Title + kSep + item.Forum + kSep + item.OpenLink + kSep;
  if (favorites.Count() >= kMaxFavorites || favorites.IndexOf(entry) >= 0) return false;
  favorites.Add(std::move(entry));
  return true;
}

void TTopics::DeleteFavorite(size_t entry) {
  if (entry < lists_.Favorites.Count()) lists_.Favorites.Delete(entry);
}

std::string TTopics::ForumName(const std::string& field) {
  if (NumberValue(field) == 0) return field;
  const std::string suffix = "=" + field;
  for (const std::string& line : lists_.ForumNames.Lines()) {
    if (line.size() >= suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
      return line.substr(0, line.size() - suffix.size());
  }
  needForumList_ = true;
  return kForumPlaceholder;
}

void TTopics::ApplyForumList(std::string_view text) {
  needForumList_ = false;
  ReadForumList(text, lists_.ForumNames);
}

void TTopics::ParseReply(std::string text, int32_t maxTopics, const TOwnPosts& own, const TTopicEvents& events) {
  if (!text.empty()) {
    ClearItems();
    updateAvailable_ = text[0] == '1';
    text.erase(0, 1);
    lastReply_ = text;
    unreadCount_ = 0;
    DecodeNamedEntities(text);
    text = DecodeNumericRefs(text);
    Raise(events.ListCleared);

    // No more records than the request asked for, however many the text
    // holds. Each field is cleaned before anything stores it: a read mark, a
    // favourite or a list row never gains a separator or a line break from
    // the server (a field of nothing else counts as empty). A record with a
    // field longer than its cap, or whose path leaves the forum, is dropped
    // (it still counts as one of those asked for); the next ones apply.
    std::string_view rest(text);
    for (int32_t applied = 0; applied < maxTopics && !rest.empty(); ++applied) {
      std::string fields[5];
      for (auto& f : fields) f = CleanListText(TakeField(rest));
      if (std::any_of(std::begin(fields), std::end(fields), [](const std::string& f) { return f.empty(); })) break;
      bool fits = IsTopicPath(fields[1]);
      for (size_t i = 0; i < 5; ++i) fits = fits && fields[i].size() <= kFieldCaps[i];
      if (!fits) continue;
      auto item = std::make_unique<TItemData>();
      item->Title = std::move(fields[0]);
      item->KeyLink = forumBase_ + fields[1] + "-1";
      item->OpenLink = forumBase_ + fields[1] + "-" + "0-17";
      item->Forum = CleanListText(ForumName(fields[2]));
      item->Replies = std::move(fields[3]);
      item->Author = std::move(fields[4]);
      ApplyRecord(std::move(item), own, events);
    }
  }
  if (unreadCount_ > prevUnreadCount_) Raise(events.NewMessages);
  if (updateAvailable_ && !updateNotified_) {
    Raise(events.NewVersion);
    updateNotified_ = true;
  }
  prevUnreadCount_ = unreadCount_;
}

void TTopics::ApplyRecord(std::unique_ptr<TItemData> item, const TOwnPosts& own, const TTopicEvents& events) {
  int32_t index = -1;
  item->Read = FindReadMark(item->KeyLink, item->Replies, index, item->NewCount);
  // The user's own last post counts as read (and is saved as such); the
  // topic still shows how many replies came since it was last read.
  if (!item->Read && own.Ignore && EqualsAsciiNoCase(own.Nick, item->Author)) {
    Mark(*item);
    Raise(events.MarkWritten);
  }
  if (!item->Read) ++unreadCount_;
  const TItemData& added = *items_.emplace_back(std::move(item));
  if (events.Item) events.Item(added);
}

}  // namespace zelt
