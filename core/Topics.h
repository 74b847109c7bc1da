// The topics of the last reply, judged against the read marks and the user's
// nick, and the three stored lists: read marks, favourites, forum names.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/DataFile.h"

namespace zelt {

// One topic of the current reply. Owned by TTopics; list rows only point to it.
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

// Whose posts count as read at once.
struct TOwnPosts {
  bool Ignore = false;
  std::string Nick;
};

// What applying a topic reply reports, in this order: ListCleared (the old
// records are gone), Item for each record kept (after MarkWritten when it is
// the user's own post, now marked read), then NewMessages and NewVersion
// when due. An unset event is skipped.
struct TTopicEvents {
  std::function<void()> ListCleared;
  std::function<void(const TItemData& item)> Item;
  std::function<void()> MarkWritten;
  std::function<void()> NewMessages;
  std::function<void()> NewVersion;
};

class TTopics {
 public:
  TTopics();
  ~TTopics();
  TTopics(const TTopics&) = delete;
  TTopics& operator=(const TTopics&) = delete;

  const std::vector<std::unique_ptr<TItemData>>& Items() const { return items_; }
  // Topics of the current reply that are not read.
  int32_t UnreadCount() const { return unreadCount_; }
  // The last reply announced a newer version.
  bool UpdateAvailable() const { return updateAvailable_; }
  // The next request asks for the forum list.
  bool NeedForumList() const { return needForumList_; }
  // The last full reply text, undecoded and without its flag, for reuse.
  const std::string& LastReply() const { return lastReply_; }
  const TStoredLists& Lists() const { return lists_; }
  // The lists as loaded; kept as they are.
  void SetLists(TStoredLists lists) { lists_ = std::move(lists); }

  // Applies a decompressed topic reply (flag character first), at most
  // `maxTopics` of its records; an empty text changes no topic.
  void ParseReply(std::string text, int32_t maxTopics, const TOwnPosts& own, const TTopicEvents& events);
  // A forum list reply, decompressed: the forum names, the list is no longer needed.
  void ApplyForumList(std::string_view text);
  // The next reply is no reuse of this one.
  void ResetReply() { lastReply_.clear(); }

  // Looks the topic up in the read marks: true when read at exactly this
  // reply count; `index` is the entry of the link or -1, `newCount` the
  // replies since it was read (all of them when never read).
  bool FindReadMark(const std::string& link, const std::string& replies, int32_t& index, int32_t& newCount) const;
  // Notes the topic as read at this reply count; the 1000th distinct mark
  // pushes out the oldest.
  void MarkRead(const std::string& link, const std::string& replies);
  // MarkRead with the item's link and count; a record of these topics is
  // then read (its NewCount stays).
  void MarkItemRead(const TItemData& item);
  // One topic fewer is unread (the user opened one); false when none was counted.
  bool CountDown();
  // No topic is unread (the user marked them all).
  void ClearUnreadCount() { unreadCount_ = 0; }

  // Adds the topic to the favourites unless it is there or the list is
  // full; true when added.
  bool AddFavorite(const TItemData& item);
  // Deletes favourite number `entry`, if there is one.
  void DeleteFavorite(size_t entry);
  void ClearFavorites() { lists_.Favorites.Clear(); }

 private:
  void ClearItems();
  // The name for a reply's forum field; a missing id asks for the forum list.
  std::string ForumName(const std::string& field);
  void ApplyRecord(std::unique_ptr<TItemData> item, const TOwnPosts& own, const TTopicEvents& events);
  void Mark(TItemData& item);

  std::string forumBase_;
  std::vector<std::unique_ptr<TItemData>> items_;
  TStoredLists lists_;
  int32_t unreadCount_ = 0;
  int32_t prevUnreadCount_ = 0;  // UnreadCount after the previous reply
  bool updateAvailable_ = false;
  bool updateNotified_ = false;  // the new version has been told in this run
  bool needForumList_ = false;
  std::string lastReply_;
};

// Forum base URL: the forum site followed by "/forum/".
std::string ForumBaseUrl();
// Whether a topic or favourite link may be handed to the shell: the forum base
// URL followed by a topic path (IsTopicPath). Anything else (a file, a share,
// another site, a command line, another page of the forum host) is never
// opened.
bool IsForumLink(std::string_view link);
// Shown for a forum id whose name is not known yet.
extern const char* const kForumPlaceholder;

}  // namespace zelt
