// The patch's payload and the replacement of the installed files: all of
// them or none, also across a crash (the journal finishes or undoes the swap
// at the next start), data.dat never touched, nothing left beside them.
#include <fstream>
#include <set>

#include "app/patch/PatchFiles_win.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

using namespace patch;

std::string Entry(const std::string& name, const std::string& bytes) {
  std::string e{static_cast<char>(name.size()), static_cast<char>(name.size() >> 8)};
  e += name;
  for (int i = 0; i < 4; ++i) e += static_cast<char>(bytes.size() >> (8 * i));
  return e + bytes;
}

std::string Payload(const std::vector<std::string>& entries, uint32_t count) {
  std::string p = "ZPAYLOAD";
  for (int i = 0; i < 4; ++i) p += static_cast<char>(count >> (8 * i));
  for (const std::string& e : entries) p += e;
  return p;
}

TEST(patch_files, PayloadIsTakenOnlyWhenEveryPartIsSound) {
  const std::string exe = Entry("ZeltInformer.exe", "MZ new"), sound = Entry("Sounds\\\xd0\x9e.ogg", "ogg");
  const struct {
    const char* name;
    std::string payload;
    size_t files;  // 0: refused
  } cases[] = {
      {"two files", Payload({exe, sound}, 2), 2},
      {"bad magic", "ZPAYLOAX" + Payload({exe}, 1).substr(8), 0},
      {"count beyond the end", Payload({exe}, 2), 0},
      {"a byte after the last file", Payload({exe}, 1) + "x", 0},
      {"size beyond the end", Payload({exe}, 1).substr(0, Payload({exe}, 1).size() - 1), 0},
      {"no files", Payload({}, 0), 0},
      {"empty name", Payload({Entry("", "x")}, 1), 0},
      {"not UTF-8", Payload({Entry("\xff.exe", "x")}, 1), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TPatchFile> files;
    EXPECT_EQ(ParsePayload(c.payload, files), c.files > 0);
    ASSERT_EQ(files.size(), c.files);
    if (c.files == 0) continue;
    EXPECT_EQ(files.back().Name + L"|" + Widen(std::string(files.back().Bytes)), L"Sounds\\\u041e.ogg|ogg");
  }
}

// Names as Windows resolves them: one entry that could be data.dat, another
// entry, something outside the folder or not a plain file refuses the whole
// payload, whatever sound entries come with it.
TEST(patch_files, ANameThatResolvesElsewhereRefusesThePayloadWhole) {
  const char* const refused[] = {
      "DATA.DAT", "data.dat. .", "DATA~1.DAT", "ZELTIN~1.EXE", "ZeltInformer.exe.",  // data.dat, another entry
      "Sounds\\..\\..\\evil.exe", ".\\a.ogg", "C:evil.exe", "\\\\?\\C:\\evil.exe", "Sounds/a.ogg",  // elsewhere
      "data.dat::$DATA", "Sounds\\con.ogg", "a\x01.txt",                           // a stream, a device, odd bytes
      "Help.OLD", "ZeltUpdate.journal", "zeltupdate.journal.tmp",                    // the swap's own
  };
  const std::string exe = Entry("ZeltInformer.exe", "MZ new"), sound = Entry("Sounds\\a.ogg", "ogg");
  for (const char* name : refused) {
    std::vector<TPatchFile> files;
    EXPECT_FALSE(ParsePayload(Payload({exe, Entry(name, "x"), sound}, 3), files)) << name;
    EXPECT_TRUE(files.empty()) << name;
  }
  for (const char* sound : {"Sounds\\data.dat", "Help\\Zelt Rarazovo.chm", "a.b.c"}) {
    std::vector<TPatchFile> files;
    EXPECT_TRUE(ParsePayload(Payload({exe, Entry(sound, "x")}, 2), files)) << sound;
  }
}

class PatchSwap : public ::testing::Test {
 protected:
  // The installed files, and nothing else.
  void SetUp() override {
    for (const auto& entry : std::filesystem::directory_iterator(PathOf(dir))) std::filesystem::remove_all(entry);
    CreateDirectoryW(Widen(dir + "Sounds").c_str(), nullptr);
    for (const auto& [name, bytes] : before) std::ofstream(temp / name, std::ios::binary) << bytes;
  }
  // "old" or "new" when every file is of that version, with data.dat as it
  // was and nothing of the swap left beside them; else what is there.
  std::string Installed() {
    std::string state;
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string name = Narrow(files[i].Name);
      const bool present = std::filesystem::exists(temp / name);
      state += !present ? "-" : ReadText(dir + name) == files[i].Bytes ? "n" : ReadText(dir + name) == before[i].second ? "o" : "?";
    }
    for (const char* name : {"ZeltInformer.exe", "Sounds\\a.ogg", "Help\\Zelt Rarazovo.chm"})
      for (const char* suffix : {".new", ".old"})
        if (std::filesystem::exists(temp / (std::string(name) + suffix))) state += std::string(" ") + name + suffix;
    if (std::filesystem::exists(temp / "ZeltUpdate.journal")) state += " journal";
    if (ReadText(dir + "data.dat") != "the user's data") state += " data.dat";
    return state == "nnn" ? "new" : state == "oo-" ? "old" : state;
  }

  TempDir temp{"zelt-patch"};
  const std::string dir = temp.Path();
  const std::vector<std::pair<std::string, std::string>> before = {
      {"ZeltInformer.exe", "MZ old program"}, {"Sounds\\a.ogg", "old sound"}, {"data.dat", "the user's data"}};
  const std::vector<TPatchFile> files = {{L"ZeltInformer.exe", "MZ new program"},
                                         {L"Sounds\\a.ogg", "new sound"},
                                         {L"Help\\Zelt Rarazovo.chm", "help"}};
};

TEST_F(PatchSwap, AllFilesAreReplacedOrNone) {
  // A file held by another program, waited for in vain: the one before it is
  // put back, none after it is left.
  std::wstring failed, left;
  TReplaceOptions moves = SwapMoves();
  moves.Wait = [] {};
  HANDLE held = CreateFileW(Widen(dir + "Sounds\\a.ogg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ApplyPatch(Widen(dir), files, failed, left, moves), TPatchResult::RolledBack);
  CloseHandle(held);
  EXPECT_EQ(failed + L"|" + left, L"Sounds\\a.ogg|");
  EXPECT_EQ(Installed(), "old");
  EXPECT_EQ(ApplyPatch(Widen(dir), files, failed, left), TPatchResult::Applied);
  EXPECT_EQ(Installed(), "new");
  EXPECT_EQ(RecoverPatch(Widen(dir), left), TRecovery::Nothing);
}

// The patch stopped dead before one of its moves (as by a kill), or a move
// failing (as a held file does) on the way forward or back: what it says,
// and what the next start makes of it.
TEST_F(PatchSwap, TheJournalFinishesOrUndoesAnInterruptedSwapAtTheNextStart) {
  struct Killed {};
  // Moves: the program aside (1) and in (2), the sound aside (3) and in (4), the help in (5).
  struct Case {
    std::set<int> fail;
    int kill;
    std::string afterPatch;
    std::wstring left;
    TRecovery recovery;
    std::string afterStart;
  };
  std::vector<Case> cases = {
      {{3}, 0, "old", L"", TRecovery::Nothing, "old"},
      // Going back after the sound failed: the program to ".new" (4), its old file in (5).
      {{3}, 5, "killed", L"", TRecovery::RolledBack, "old"},
      {{3, 5}, 0, "-o- ZeltInformer.exe.new ZeltInformer.exe.old Sounds\\a.ogg.new Help\\Zelt Rarazovo.chm.new journal",
       L"ZeltInformer.exe", TRecovery::RolledBack, "old"},
      {{3, 4}, 0, "no- ZeltInformer.exe.old Sounds\\a.ogg.new Help\\Zelt Rarazovo.chm.new journal", L"ZeltInformer.exe",
       TRecovery::RolledBack, "old"},
  };
  // Killed before any move of the way forward: the next start finishes it.
  for (int kill = 1; kill <= 5; ++kill) cases.push_back({{}, kill, "killed", L"", TRecovery::Finished, "new"});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.fail) + " kill " + std::to_string(c.kill));
    SetUp();
    int count = 0;
    TReplaceOptions moves = SwapMoves();
    moves.BeforeMove = [&](const std::wstring&, const std::wstring&) {
      if (++count == c.kill) throw Killed{};
      return c.fail.count(count) == 0;
    };
    std::wstring failed, left;
    std::string state;
    try {
      const TPatchResult r = ApplyPatch(Widen(dir), files, failed, left, moves);
      EXPECT_EQ(r, c.left.empty() ? TPatchResult::RolledBack : TPatchResult::Broken);
      EXPECT_EQ(failed + L"|" + left, L"Sounds\\a.ogg|" + c.left) << "what could not be put back is named";
      state = Installed();
    } catch (const Killed&) {
      state = "killed";
    }
    EXPECT_EQ(state, c.afterPatch);
    EXPECT_EQ(RecoverPatch(Widen(dir), left), c.recovery);
    EXPECT_EQ(left, L"");
    EXPECT_EQ(Installed(), c.afterStart);
  }
}

// Killed while the new files were written (nothing installed touched yet),
// and a journal that is not one the patch wrote.
TEST_F(PatchSwap, AJournalOfTheWritingIsUndoneAndAForeignOneIsRefused) {
  // A refused journal is named and left, with what it would have moved, as it was.
  const struct {
    const char* journal;
    bool refused;
  } cases[] = {
      {"ZeltUpdate journal\nwrite\n1 ZeltInformer.exe\n", false},
      {"ZeltUpdate journal\nforward\n1 ..\\ZeltInformer.exe\n", true},
      {"ZeltUpdate journal\nsideways\n1 ZeltInformer.exe\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.journal);
    std::ofstream(temp / "ZeltInformer.exe.new", std::ios::binary) << "MZ half a new program";
    std::ofstream(temp / "ZeltUpdate.journal", std::ios::binary) << c.journal;
    std::wstring left;
    EXPECT_EQ(RecoverPatch(Widen(dir), left), c.refused ? TRecovery::Broken : TRecovery::RolledBack);
    EXPECT_EQ(left, c.refused ? L"ZeltUpdate.journal" : L"");
    EXPECT_EQ(Installed(), c.refused ? "oo- ZeltInformer.exe.new journal" : "old");
  }
}

}  // namespace
}  // namespace zelt::fake
