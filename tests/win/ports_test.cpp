// The checker's Win32 ports under Wine: registry values through advapi32,
// the local clock, the executable's path, and data.dat replaced safely while
// another program holds it, in a folder with a Cyrillic name.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/Settings.h"
#include "core/Traffic.h"
#include "base/System_win.h"
#include "core/WinPorts_win.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

constexpr char kTestKey[] = "SOFTWARE\\Zelt Rarazovo Test";

// The value as stored: a REG_SZ whose size counts its terminating zero; ""
// when there is none.
std::string ValueOf(const std::string& key, const std::string& name) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "";
  char buf[1024] = {};
  DWORD type = 0, size = sizeof buf;
  const bool ok = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == 0;
  RegCloseKey(k);
  if (!ok) return "";
  const std::string value(buf);
  return type == REG_SZ && size == value.size() + 1 ? value : value + " (stored wrongly)";
}

TEST(WinPorts, TheRegistryWritesStringsAndCreatesOnlyWhenAsked) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
  WinRegistry reg;
  const std::string path = "C:\\Программы\\Zelt Rarazovo\\ZeltInformer.exe";
  EXPECT_FALSE(reg.WriteString(kTestKey, "Path", path, false));
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));
  HKEY k;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_READ, &k), ERROR_SUCCESS) << "no key was made";
  ASSERT_TRUE(reg.WriteString(kTestKey, "Path", path, true));
  ASSERT_TRUE(reg.WriteString(kTestKey, "Other", "x", false));  // an existing key is opened
  EXPECT_EQ(ValueOf(kTestKey, "Path"), path);
  EXPECT_TRUE(reg.DeleteValue(kTestKey, "Path"));
  EXPECT_EQ(ValueOf(kTestKey, "Path"), "");
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));
  EXPECT_EQ(ValueOf(kTestKey, "Other"), "x");
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kTestKey, "Other");
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
}

TEST(WinPorts, TheClockIsLocalTimeAndTheExecutableKnowsItsPath) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  TCivilTime t;
  ASSERT_TRUE(DecodeDateTime(WinClock().Now(), t));
  EXPECT_EQ(std::vector<int>({t.Year, t.Month, t.Day}), std::vector<int>({st.wYear, st.wMonth, st.wDay}));
  const std::string exe = ExeFilePath();
  EXPECT_EQ(FolderOf(exe) + "win_tests.exe", exe);
  EXPECT_TRUE(std::filesystem::exists(Widen(exe)));
}

class WinFiles : public ::testing::Test {
 protected:
  std::string Read() {
    std::string s;
    EXPECT_TRUE(ReadFileBytes(path, s));
    return s;
  }
  bool TempLeft() { return std::filesystem::exists(dir / "data.dat.tmp"); }
  HANDLE Hold(DWORD share) {
    return CreateFileW(Widen(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  TempDir dir{"zelt-ядро"};
  std::string path = dir.Path() + "data.dat";
};

TEST_F(WinFiles, ASaveReplacesTheFileOrLeavesItWhole) {
  ASSERT_TRUE(ReplaceFileBytes(path, std::string("old\0bytes", 9)));
  EXPECT_EQ(Read(), std::string("old\0bytes", 9));
  ASSERT_TRUE(ReplaceFileBytes(path, ""));
  EXPECT_EQ(Read(), "");
  ASSERT_TRUE(ReplaceFileBytes(path, "previous"));
  // Held by another program without sharing: the save fails, the file stays
  // whole and no temporary file is left.
  const HANDLE held = Hold(0);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceFileBytes(path, "next"));
  CloseHandle(held);
  EXPECT_EQ(Read(), "previous");
  EXPECT_FALSE(TempLeft());
  // Open for reading and writing by another program: still readable.
  const HANDLE shared = Hold(FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(Read(), "previous");
  CloseHandle(shared);
  std::string none;
  EXPECT_FALSE(ReadFileBytes(path + ".missing", none));
}

// A holder that lets go while the save retries does not cost the save.
TEST_F(WinFiles, ASaveWaitsForAHolderThatLetsGo) {
  ASSERT_TRUE(ReplaceFileBytes(path, "previous"));
  const HANDLE held = Hold(0);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::atomic<bool> done{false};
  std::thread holder([&] {
    // Lets go once the save has its temporary file ready, the moment its
    // first attempt to replace the file meets the holder.
    while (!done && !TempLeft()) Sleep(1);
    CloseHandle(held);
  });
  const bool saved = ReplaceFileBytes(path, "next");
  done = true;
  holder.join();
  EXPECT_TRUE(saved);
  EXPECT_EQ(Read(), "next");
}

}  // namespace
}  // namespace zelt::fake
