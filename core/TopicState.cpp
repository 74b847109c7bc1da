// The topics of a reply, judged against the read marks and the user's nick;
// read marks, favourites and forum names.
#include <algorithm>
#include <string_view>

#include "core/ReplyDecoding.h"
#include "core/uChecker.h"

namespace zelt {

namespace {
constexpr char kSep = '\x11';
// The caps of the five fields of a record, in reply order.
constexpr size_t kFieldCaps[5] = {kMaxTitleBytes, kMaxPathBytes, kMaxForumBytes, kMaxRepliesBytes, kMaxAuthorBytes};
}  // namespace

const char* const kForumPlaceholder = "<Будет отображено при следующей загрузке>";

void TChecker::ClearItems() {
  for (auto& item : Items) {
    *item = TItemData{};
  }
  Items.clear();
}

bool TChecker::FindReadMark(const std::string& link, const std::string& replies, int32_t& index,
                            int32_t& newCount) const {
  const int64_t replyCount = NumberValue(replies);
  index = -1;
  newCount = NumberValue(replies);
  for (size_t i = 0; i < ReadMarks.Count(); ++i) {
    std::string_view rest(ReadMarks[i]);
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

void TChecker::MarkRead(const std::string& link, const std::string& replies) {
  int32_t index = -1, newCount = 0;
  if (!FindReadMark(link, replies, index, newCount)) {
    std::string entry = link + kSep + replies;
    if (index < 0)
      ReadMarks.Add(std::move(entry));
    else
      ReadMarks[static_cast<size_t>(index)] = std::move(entry);
    if (ReadMarks.Count() > kMaxReadMarks) ReadMarks.Delete(0);
  }
  SaveData();
}

void TChecker::MarkItemRead(TItemData* item) {
  if (!item) return;
  MarkRead(item->KeyLink, item->Replies);
  item->Read = true;
}

void TChecker::AddFavorite(TItemData* item) {
  if (!item) return;
  std::string entry = item->Title + kSep + item->Forum + kSep + item->OpenLink + kSep;
  if (Favorites.Count() >= kMaxFavorites || Favorites.IndexOf(entry) >= 0) return;
  Favorites.Add(std::move(entry));
  SaveData();
}

std::string TChecker::ForumName(const std::string& field) {
  if (NumberValue(field) == 0) return field;
  const std::string suffix = "=" + field;
  for (const std::string& line : ForumNames.Lines()) {
    if (line.size() >= suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
      return line.substr(0, line.size() - suffix.size());
  }
  NeedForumList = true;
  return kForumPlaceholder;
}

void TChecker::ParseReply(std::string text, int32_t maxTopics) {
  if (!text.empty()) {
    ClearItems();
    UpdateAvailable = text[0] == '1';
    text.erase(0, 1);
    LastReply = text;
    UnreadCount = 0;
    DecodeNamedEntities(text);
    text = DecodeNumericRefs(text);
    RaiseStatus(csListCleared);

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
      ApplyRecord(std::move(item));
    }
  }
  if (UnreadCount > PrevUnreadCount) RaiseStatus(csNewMessages);
  if (UpdateAvailable && !UpdateNotified) {
    RaiseStatus(csNewVersion);
    UpdateNotified = true;
  }
  PrevUnreadCount = UnreadCount;
  HaveData = true;
}

void TChecker::ApplyRecord(std::unique_ptr<TItemData> item) {
  int32_t index = -1;
  item->Read = FindReadMark(item->KeyLink, item->Replies, index, item->NewCount);
  // The user's own last post counts as read (and is saved as such); the
  // topic still shows how many replies came since it was last read.
  if (!item->Read && IgnoreOwnPosts && EqualsAsciiNoCase(Nick, item->Author)) MarkItemRead(item.get());
  if (!item->Read) ++UnreadCount;
  TItemData* raw = item.get();
  Items.push_back(std::move(item));
  if (OnItem) OnItem(raw);
}

}  // namespace zelt
