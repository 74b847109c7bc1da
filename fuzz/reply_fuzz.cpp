// A reply body as the server might send it, turned into text and applied to
// fresh topics; then every topic goes into the favourites and the read marks.
// No server text may split or add a list entry, no field shown or stored
// exceeds its cap, every link stays in the forum, and data.dat keeps every
// list as it is and stays small.
//   byte 0, bit 0: the request asked for the forum list
//           bit 1: the user's own posts count as read (nick "Ivan")
//           bit 2: some topics are already read
//           bit 3: the rest is reply text, deflated here first (so the
//                  fuzzer explores the text rather than zlib's checks)
//   the rest: the body
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/DataFile.h"
#include "core/ReplyDecoding.h"
#include "core/Topics.h"
#include "tests/support/Fakes.h"

namespace {

using namespace zelt;

void Check(bool ok) {
  if (!ok) std::abort();
}

size_t Count(const std::string& s, char c) { return static_cast<size_t>(std::count(s.begin(), s.end(), c)); }

bool HasLineBytes(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

bool SameLists(const TStoredLists& a, const TStoredLists& b) {
  return a.Favorites.Lines() == b.Favorites.Lines() && a.ForumNames.Lines() == b.ForumNames.Lines() &&
         a.ReadMarks.Lines() == b.ReadMarks.Lines();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (mode & 8) body = fake::CompressedBody(body, 1);

  TTopics t;
  const std::string forumBase = ForumBaseUrl();
  TStoredLists lists;
  lists.ForumNames.SetText("General=15\r\nNews=5\r\n");
  if (mode & 4) lists.ReadMarks.Add(forumBase + "a-1\x11" "3");
  t.SetLists(lists);
  const TOwnPosts own{(mode & 2) != 0, "Ivan"};

  // The body as the checker applies it for a request of that kind.
  if (mode & 1)
    t.ApplyForumList(InflateReply(body));
  else
    t.ParseReply(TopicReplyText(body, "").Text, 10, own, {});

  // What every applied reply leaves behind, whatever the body was.
  for (const auto& item : t.Items()) {
    Check(!item->Title.empty() && !item->Replies.empty() && !item->Author.empty() && !item->Forum.empty());
    Check(item->Title.size() <= 512 && item->Replies.size() <= 11 && item->Author.size() <= 256 &&
          item->Forum.size() <= 200);
    Check(IsForumLink(item->KeyLink) && IsForumLink(item->OpenLink) && item->OpenLink.size() <= forumBase.size() + 517);
  }

  // The forum names, favourites and read marks, and data.dat's copy of them.
  const TStoredLists& kept = t.Lists();
  for (const std::string& line : kept.ForumNames.Lines())
    Check(line.find('=') != std::string::npos && Count(line, '\x11') == 0 && !HasLineBytes(line));
  for (const auto& item : t.Items()) {
    t.AddFavorite(*item);
    t.MarkItemRead(*item);
  }
  const size_t base = forumBase.size();
  for (const std::string& entry : kept.Favorites.Lines())
    Check(Count(entry, '\x11') == 3 && !HasLineBytes(entry) && entry.size() <= base + 1232);
  for (const std::string& entry : kept.ReadMarks.Lines())
    Check(Count(entry, '\x11') == 1 && !HasLineBytes(entry) && entry.size() <= base + 526);
  TDataImage image, back;
  static_cast<TStoredLists&>(image) = kept;
  const std::string bytes = SerializeDataImage(image);
  Check(bytes.size() <= 12 + 2000 * 202 + t.Items().size() * (2 * base + 1762) + base + 528);
  Check(ParseDataImage(bytes, back) && SameLists(back, kept));
  // What a fresh start keeps of it is all of it.
  TStoredLists bounded = back;
  BoundStoredLists(bounded, base);
  Check(SameLists(bounded, kept));
  return 0;
}
