// The patch's payload and the replacement of the installed files: all of
// them or none, data.dat never touched, nothing left beside them.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/patch/PatchFiles_win.h"
#include <fstream>

#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

using patch::ApplyPatch;
using patch::ParsePayload;
using patch::TPatchFile;

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
      {"climbing out", Payload({Entry("..\\evil.exe", "x")}, 1), 0},
      {"climbing out below", Payload({Entry("Sounds\\..\\..\\evil.exe", "x")}, 1), 0},
      {"absolute", Payload({Entry("\\Windows\\evil.exe", "x")}, 1), 0},
      {"drive", Payload({Entry("C:evil.exe", "x")}, 1), 0},
      {"stream", Payload({Entry("ZeltInformer.exe:x", "x")}, 1), 0},
      {"slash", Payload({Entry("Sounds/a.ogg", "x")}, 1), 0},
      {"empty step", Payload({Entry("Sounds\\\\a.ogg", "x")}, 1), 0},
      {"empty name", Payload({Entry("", "x")}, 1), 0},
      {"not UTF-8", Payload({Entry("\xff.exe", "x")}, 1), 0},
      {"the user's data.dat", Payload({exe, Entry("DATA.DAT", "x")}, 2), 0},
      {"the same file twice", Payload({exe, Entry("zeltinformer.EXE", "x")}, 2), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TPatchFile> files;
    EXPECT_EQ(ParsePayload(c.payload, files), c.files > 0);
    EXPECT_EQ(files.size(), c.files);
  }
  std::vector<TPatchFile> files;
  ASSERT_TRUE(ParsePayload(Payload({exe, sound}, 2), files));
  EXPECT_EQ(files[1].Name, L"Sounds\\\u041e.ogg");
  EXPECT_EQ(files[1].Bytes, "ogg");
}

TEST(patch_files, AllFilesAreReplacedOrNone) {
  TempDir temp{"zelt-patch"};
  const std::string dir = temp.Path();
  CreateDirectoryW(Widen(dir + "Sounds").c_str(), nullptr);
  const std::vector<std::pair<std::string, std::string>> before = {
      {"ZeltInformer.exe", "MZ old program"}, {"Sounds\\a.ogg", "old sound"}, {"data.dat", "the user's data"}};
  const std::vector<TPatchFile> files = {{L"ZeltInformer.exe", "MZ new program"},
                                         {L"Sounds\\a.ogg", "new sound"},
                                         {L"Help\\Zelt Rarazovo.chm", "help"}};
  auto leftovers = [&] {
    int n = 0;
    for (const char* name : {"ZeltInformer.exe", "Sounds\\a.ogg", "Help\\Zelt Rarazovo.chm"})
      for (const char* suffix : {".new", ".old"}) n += std::filesystem::exists(Widen(dir + name + suffix));
    return n;
  };
  for (const auto& [name, bytes] : before) std::ofstream(temp / name, std::ios::binary) << bytes;

  // A file held by another program: the one before it is put back, none after it is left.
  std::wstring failed;
  {
    HANDLE held = CreateFileW(Widen(dir + "Sounds\\a.ogg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ApplyPatch(Widen(dir), files, failed));
    CloseHandle(held);
  }
  EXPECT_EQ(failed, L"Sounds\\a.ogg");
  for (const auto& [name, bytes] : before) EXPECT_EQ(ReadText(dir + name), bytes) << name;
  EXPECT_FALSE(std::filesystem::exists(Widen(dir + "Help\\Zelt Rarazovo.chm")));
  EXPECT_EQ(leftovers(), 0);

  ASSERT_TRUE(ApplyPatch(Widen(dir), files, failed));
  for (const TPatchFile& f : files) EXPECT_EQ(ReadText(dir + Narrow(f.Name)), f.Bytes);
  EXPECT_EQ(ReadText(dir + "data.dat"), "the user's data");
  EXPECT_EQ(leftovers(), 0);
}

}  // namespace
}  // namespace zelt::fake
