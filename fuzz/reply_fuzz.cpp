// The reply handler: a body as the server might send it, applied to a fresh
// checker, then reused by a short follow-up reply; then every topic goes into
// the favourites and the read marks. No server text may split or add a list
// entry, no field shown or stored exceeds its cap, every link stays in the
// forum, and data.dat keeps every list as it is and stays small.
//   byte 0, bit 0: the request asked for the forum list
//           bit 1: the user's own posts count as read (nick "Ivan")
//           bit 2: some topics are already read
//           bit 3: the rest is reply text, deflated here first (so the
//                  fuzzer explores the text rather than zlib's checks)
//           bit 4: the follow-up reply is one byte "1" (else no bytes)
//   the rest: the body
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/DataFile.h"
#include "core/ReplyDecoding.h"
#include "core/uChecker.h"
#include "tests/support/Fakes.h"

namespace {

using namespace zelt;

void Check(bool ok) {
  if (!ok) std::abort();
}

// What every applied reply leaves behind, whatever the body was.
void CheckState(const TChecker& c, const std::string& forumBase) {
  int32_t unread = 0;
  for (const auto& item : c.Items) {
    Check(item != nullptr);
    Check(!item->Title.empty() && !item->Replies.empty() && !item->Author.empty() && !item->Forum.empty());
    Check(item->Title.size() <= 512 && item->Replies.size() <= 11 && item->Author.size() <= 256 &&
          item->Forum.size() <= 200);
    Check(IsForumLink(item->KeyLink) && IsForumLink(item->OpenLink) && item->OpenLink.size() <= forumBase.size() + 517);
    Check(item->KeyLink.size() >= forumBase.size() + 3 && item->KeyLink.substr(item->KeyLink.size() - 2) == "-1");
    Check(item->OpenLink.substr(item->OpenLink.size() - 5) == "-0-17");
    unread += item->Read ? 0 : 1;
  }
  Check(unread == c.UnreadCount);
  Check(c.PrevUnreadCount == c.UnreadCount);
  Check(c.ReadMarks.Count() <= 999);
  Check(c.LastInUnpacked <= kMaxInflatedText);
}

size_t Count(const std::string& s, char c) { return static_cast<size_t>(std::count(s.begin(), s.end(), c)); }

bool HasLineBytes(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

// The forum names, favourites and read marks, and data.dat's copy of them.
void CheckLists(TChecker& c) {
  Check(c.ForumNames.Count() <= kMaxForumLines);
  for (const std::string& line : c.ForumNames.Lines())
    Check(line.size() <= kMaxForumLineBytes && line.find('=') != std::string::npos && Count(line, '\x11') == 0 &&
          !HasLineBytes(line));
  for (const auto& item : c.Items) {
    c.AddFavorite(item.get());
    c.MarkItemRead(item.get());
  }
  const size_t base = ForumBaseUrl().size();
  for (const std::string& entry : c.Favorites.Lines())
    Check(Count(entry, '\x11') == 3 && !HasLineBytes(entry) && entry.size() <= base + 1232);
  for (const std::string& entry : c.ReadMarks.Lines())
    Check(Count(entry, '\x11') == 1 && !HasLineBytes(entry) && entry.size() <= base + 526);
  TDataImage image, back;
  image.Favorites = c.Favorites;
  image.ForumNames = c.ForumNames;
  image.ReadMarks = c.ReadMarks;
  const std::string bytes = SerializeDataImage(image);
  Check(bytes.size() <= 12 + 2000 * 202 + c.Items.size() * (2 * base + 1762) + base + 528);
  Check(ParseDataImage(bytes, back));
  Check(back.Favorites.Lines() == c.Favorites.Lines() && back.ForumNames.Lines() == c.ForumNames.Lines() &&
        back.ReadMarks.Lines() == c.ReadMarks.Lines());
  // What a fresh start keeps of it is all of it.
  TDataImage bounded = back;
  BoundStoredLists(bounded, base);
  Check(bounded.Favorites.Lines() == c.Favorites.Lines() && bounded.ForumNames.Lines() == c.ForumNames.Lines() &&
        bounded.ReadMarks.Lines() == c.ReadMarks.Lines());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Nothing here reaches the network or the GUI queue.
  static fake::GuiQueue gui;
  static fake::Transport http;
  static fake::Registry registry;
  static fake::Sound sound;
  static fake::Clock clock;
  const uint8_t mode = data[0];
  std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (mode & 8) body = fake::CompressedBody(body, 1);

  // A folder that does not exist: saves fail at once, as a full disk would.
  TChecker c(CheckerPorts{gui, http, std::make_unique<fake::Timer>(), registry, sound, clock,
                          "/nonexistent-zelt-fuzz/", "ZeltInformer.exe"});
  const std::string forumBase = ForumBaseUrl();
  c.ForumNames.SetText("General=15\r\nNews=5\r\n");
  c.NeedForumList = mode & 1;
  c.IgnoreOwnPosts = mode & 2;
  c.Nick = "Ivan";
  if (mode & 4) c.ReadMarks.Add(forumBase + "a-1\x11" "3");

  c.HandleReply(body);
  CheckState(c, forumBase);
  Check(c.TotalInBytes == static_cast<uint32_t>(body.size()));
  Check(!c.NeedForumList || !(mode & 1));

  // The follow-up answers the next request: the forum list when a forum id
  // was missing, else an unchanged topic list.
  const std::string lastReply = c.LastReply;
  const bool askedForList = c.NeedForumList;
  const bool wasUpdate = c.UpdateAvailable;
  c.HandleReply(mode & 16 ? "1" : "");
  CheckState(c, forumBase);
  Check(c.LastReply == lastReply);
  Check(!c.NeedForumList || !askedForList);
  if (askedForList) {
    Check(c.ForumNames.Empty());  // nothing to inflate
    Check(c.UpdateAvailable == wasUpdate);
  } else {
    Check(c.UpdateAvailable == ((mode & 16) != 0));
  }
  CheckLists(c);
  return 0;
}
