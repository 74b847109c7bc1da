// A hostile reply applied whole, as the GUI thread does it: zlib bombs of a
// few ten kilobytes that inflate to 16 MiB of topic records or forum lines,
// against a checker that knows 999 read marks and takes the user's own posts
// as read. The bounds keep each well under a second; saves go to a folder
// that no longer exists (no disk in the figure).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "base/SafeFile.h"
#include "core/uChecker.h"
#include "tests/support/Fakes.h"

namespace {

using namespace zelt;

// A zlib stream of `unit` repeated up to `bytes`, without its two header bytes.
std::string Bomb(const std::string& head, const std::string& unit, size_t bytes) {
  std::string text = head;
  while (text.size() < bytes) text += unit;
  return fake::CompressedBody(text, 9);
}

void Apply(benchmark::State& state, const std::string& body, bool forumList) {
  static fake::GuiQueue gui;
  static fake::Transport http;
  static fake::Registry registry;
  static fake::Sound sound;
  static fake::Clock clock;
  // The state comes from a data.dat whose folder is gone once it is loaded.
  auto dir = std::make_unique<fake::TempDir>("zelt-bench");
  TDataImage image;
  image.IgnoreOwnPosts = true;
  image.Nick = "me";
  for (int i = 0; i < 999; ++i) image.ReadMarks.Add(ForumBaseUrl() + "old-" + std::to_string(i) + "-1\x11" "1");
  ReplaceFileBytes(*dir / kDataFileName.Narrow, SerializeDataImage(image));
  TChecker c(CheckerPorts{gui, http, std::make_unique<fake::Timer>(), registry, sound, clock, dir->Path(),
                          "ZeltInformer.exe"});
  dir.reset();
  for (auto _ : state) c.HandleReply(body, {forumList, 30});
  state.counters["compressed_bytes"] = static_cast<double>(body.size());
  state.counters["topics"] = static_cast<double>(c.Items().size());
  state.counters["forum_lines"] = static_cast<double>(c.Topics().Lists().ForumNames.Count());
}

void BM_TopicBomb16MiB(benchmark::State& s) {
  static const std::string body = Bomb("0", "T\x11p\x11" "15\x11" "1\x11me\x11", 16u << 20);
  Apply(s, body, false);
}
void BM_ForumBomb16MiB(benchmark::State& s) {
  static const std::string body = Bomb("", "Forum=15\r\n", 16u << 20);
  Apply(s, body, true);
}
BENCHMARK(BM_TopicBomb16MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForumBomb16MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
