// The checker's Win32 ports under Wine: registry values through advapi32,
// the local clock, the executable's folder, and the safe replacement of
// data.dat when another program holds it.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "core/FileIO.h"
#include "core/Settings.h"
#include "base/Text_win.h"
#include "base/System_win.h"
#include "core/Traffic.h"
#include "core/WinPorts_win.h"

namespace zelt {
namespace {

constexpr char kTestKey[] = "SOFTWARE\\Zelt Rarazovo Test";

bool ReadValue(const std::string& key, const std::string& name, std::string& value, DWORD& type, DWORD& size) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  char buf[1024] = {};
  size = sizeof buf;
  const bool ok = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS;
  RegCloseKey(k);
  if (ok) value.assign(buf, size ? size - 1 : 0);
  return ok;
}

bool KeyExists(const std::string& key) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

TEST(CoreWinRegistry, WritesReadsBackAndDeletes) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
  WinRegistry reg;
  const std::string path = "C:\\Программы\\Zelt Rarazovo\\ZeltInformer.exe";

  // Without create, a missing key stays missing.
  EXPECT_FALSE(reg.WriteString(kTestKey, "Path", path, false));
  EXPECT_FALSE(KeyExists(kTestKey));
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));

  ASSERT_TRUE(reg.WriteString(kTestKey, "Path", path, true));
  std::string value;
  DWORD type = 0, size = 0;
  ASSERT_TRUE(ReadValue(kTestKey, "Path", value, type, size));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, path.size() + 1);  // the NUL is counted
  EXPECT_EQ(value, path);

  // An existing key is opened, not created anew: a second value joins the first.
  ASSERT_TRUE(reg.WriteString(kTestKey, "Other", "x", false));
  EXPECT_TRUE(ReadValue(kTestKey, "Path", value, type, size));

  EXPECT_TRUE(reg.DeleteValue(kTestKey, "Path"));
  EXPECT_FALSE(ReadValue(kTestKey, "Path", value, type, size));
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));  // nothing left to delete
  EXPECT_TRUE(reg.DeleteValue(kTestKey, "Other"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
}

TEST(CoreWinRegistry, TheProgramsTwoValues) {
  WinRegistry reg;
  const std::string exe = ExeFilePath();
  // The Run key exists on every Windows; make sure the test prefix has it.
  HKEY run;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(run);

  ASSERT_TRUE(reg.WriteString(kInstallKey, kInstallValue, exe, true));
  ASSERT_TRUE(reg.WriteString(kRunKey, kRunValue, exe, false));
  std::string value;
  DWORD type = 0, size = 0;
  ASSERT_TRUE(ReadValue(kRunKey, kRunValue, value, type, size));
  EXPECT_EQ(value, exe);  // no quotes, no arguments
  EXPECT_TRUE(reg.DeleteValue(kRunKey, kRunValue));
  EXPECT_FALSE(ReadValue(kRunKey, kRunValue, value, type, size));
  EXPECT_TRUE(reg.DeleteValue(kInstallKey, kInstallValue));
}

TEST(CoreWinClock, NowIsTheLocalTime) {
  SYSTEMTIME a, b;
  GetLocalTime(&a);
  const double now = WinClock().Now();
  GetLocalTime(&b);
  auto encode = [](const SYSTEMTIME& s) {
    return EncodeDateTime({s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds});
  };
  EXPECT_GE(now, encode(a));
  EXPECT_LE(now, encode(b));
  TCivilTime t;
  ASSERT_TRUE(DecodeDateTime(now, t));
  EXPECT_GE(t.Year, 2000);
}

TEST(CoreWinPaths, ExecutableAndFolder) {
  const std::string exe = ExeFilePath();
  EXPECT_EQ(exe.substr(exe.size() - 13), "win_tests.exe");
  EXPECT_TRUE(std::filesystem::exists(Widen(exe)));
  const std::string dir = FolderOf(exe);
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(dir + "win_tests.exe", exe);
  EXPECT_EQ(FolderOf("C:/a/b.exe"), "C:/a/");
  EXPECT_EQ(FolderOf("b.exe"), "");
}

class CoreWinFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder with a Cyrillic name: paths go through the wide functions.
    dir = std::filesystem::temp_directory_path() / Widen("zelt-ядро-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    path = Narrow((dir / L"data.dat").wstring());
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Read() {
    std::string s;
    EXPECT_TRUE(ReadFileBytes(path, s));
    return s;
  }
  HANDLE HoldWithoutSharing() {
    return CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::filesystem::path dir;
  std::string path;
};

TEST_F(CoreWinFiles, ReplacesAnExistingFile) {
  ASSERT_TRUE(ReplaceFileBytes(path, std::string("old\0bytes", 9)));
  EXPECT_EQ(Read(), std::string("old\0bytes", 9));
  ASSERT_TRUE(ReplaceFileBytes(path, "new"));
  EXPECT_EQ(Read(), "new");
  ASSERT_TRUE(ReplaceFileBytes(path, ""));
  EXPECT_EQ(Read(), "");
  EXPECT_FALSE(std::filesystem::exists(Widen(path + ".tmp")));
  std::string none;
  EXPECT_FALSE(ReadFileBytes(path + ".missing", none));
}

TEST_F(CoreWinFiles, AHeldFileStaysWholeAndTheTemporaryGoes) {
  ASSERT_TRUE(ReplaceFileBytes(path, "previous"));
  const HANDLE held = HoldWithoutSharing();
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceFileBytes(path, "next"));
  CloseHandle(held);
  EXPECT_EQ(Read(), "previous");
  EXPECT_FALSE(std::filesystem::exists(Widen(path + ".tmp")));
}

TEST_F(CoreWinFiles, ATemporaryThatCannotBeWrittenLeavesTheFile) {
  ASSERT_TRUE(ReplaceFileBytes(path, "previous"));
  std::filesystem::create_directory(Widen(path + ".tmp"));
  EXPECT_FALSE(ReplaceFileBytes(path, "next"));
  EXPECT_EQ(Read(), "previous");
  std::filesystem::remove(Widen(path + ".tmp"));
}

// Another program lets go of the file while the save retries: the save wins.
TEST_F(CoreWinFiles, ASaveWaitsBrieflyForAHolder) {
  ASSERT_TRUE(ReplaceFileBytes(path, "previous"));
  const HANDLE held = HoldWithoutSharing();
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::atomic<bool> stop{false};
  std::thread holder([&] {
    // Let go a moment after the save has its temporary file ready, so that
    // its first attempt to replace the file usually meets the holder.
    while (!stop && !std::filesystem::exists(Widen(path + ".tmp"))) Sleep(1);
    Sleep(20);
    CloseHandle(held);
  });
  const bool saved = ReplaceFileBytes(path, "next");
  stop = true;
  holder.join();
  EXPECT_TRUE(saved);
  EXPECT_EQ(Read(), "next");
}

TEST_F(CoreWinFiles, ReadsAFileOthersHaveOpen) {
  ASSERT_TRUE(ReplaceFileBytes(path, "content"));
  const HANDLE other = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(), "content");
  CloseHandle(other);
}

}  // namespace
}  // namespace zelt
