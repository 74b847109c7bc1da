// The checker's Win32 ports under Wine: registry values through advapi32,
// the local clock, the executable's folder, and the safe replacement of
// data.dat when another program holds it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>

#include "core/FileIO.h"
#include "core/Settings.h"
#include "base/Text_win.h"
#include "base/System_win.h"
#include "core/Traffic.h"
#include "core/WinPorts_win.h"

namespace zelt {
namespace {

constexpr char kTestKey[] = "SOFTWARE\\Zelt Rarazovo Test";

bool ReadValue(const std::string& key, const std::string& name, std::wstring& value, DWORD& type, DWORD& size) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  wchar_t buf[1024] = {};
  size = sizeof buf;
  const bool ok =
      RegQueryValueExW(k, Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS;
  RegCloseKey(k);
  if (ok) value.assign(buf, size >= sizeof(wchar_t) ? size / sizeof(wchar_t) - 1 : 0);
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
  // Greek letters: nothing of the path may pass through cp1251.
  const std::wstring path = L"C:\\\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac\\Zelt Rarazovo\\ZeltInformer.exe";

  // Without create, a missing key stays missing.
  EXPECT_FALSE(reg.WriteString(kTestKey, "Path", path, false));
  EXPECT_FALSE(KeyExists(kTestKey));
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));

  ASSERT_TRUE(reg.WriteString(kTestKey, "Path", path, true));
  std::wstring value;
  DWORD type = 0, size = 0;
  ASSERT_TRUE(ReadValue(kTestKey, "Path", value, type, size));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, (path.size() + 1) * sizeof(wchar_t));  // the NUL is counted
  EXPECT_EQ(value, path);

  // An existing key is opened, not created anew: a second value joins the first.
  ASSERT_TRUE(reg.WriteString(kTestKey, "Other", L"x", false));
  EXPECT_TRUE(ReadValue(kTestKey, "Path", value, type, size));

  EXPECT_TRUE(reg.DeleteValue(kTestKey, "Path"));
  EXPECT_FALSE(ReadValue(kTestKey, "Path", value, type, size));
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));  // nothing left to delete
  EXPECT_TRUE(reg.DeleteValue(kTestKey, "Other"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
}

TEST(CoreWinRegistry, TheProgramsTwoValues) {
  WinRegistry reg;
  const std::wstring exe = ExeFilePath();
  // The Run key exists on every Windows; make sure the test prefix has it.
  HKEY run;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(run);

  ASSERT_TRUE(reg.WriteString(kInstallKey, kInstallValue, exe, true));
  ASSERT_TRUE(reg.WriteString(kRunKey, kRunValue, exe, false));
  std::wstring value;
  DWORD type = 0, size = 0;
  ASSERT_TRUE(ReadValue(kRunKey, kRunValue, value, type, size));
  EXPECT_EQ(value, exe);
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
  const std::wstring exe = ExeFilePath();
  EXPECT_EQ(exe.substr(exe.size() - 13), L"win_tests.exe");
  EXPECT_TRUE(std::filesystem::exists(exe));
  const std::wstring dir = FolderOf(exe);
  EXPECT_EQ(dir.back(), L'\\');
  EXPECT_EQ(dir + L"win_tests.exe", exe);
  EXPECT_EQ(FolderOf(L"C:/a/b.exe"), L"C:/a/");
  EXPECT_EQ(FolderOf(L"b.exe"), L"");
}

class CoreWinFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder named in Greek: no part of a path may pass through cp1251.
    dir = std::filesystem::temp_directory_path() /
          (L"zelt-\u03b1\u03c1\u03c7\u03b5\u03af\u03b1-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    path = dir / L"data.dat";
  }
  void TearDown() override {
    SetReplaceRetryHook(nullptr);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(dir);
  }
  std::string Read() {
    std::string s;
    EXPECT_TRUE(ReadFileBytes(path, s));
    return s;
  }
  std::filesystem::path Temp() const { return path.native() + L".tmp"; }
  HANDLE HoldWithoutSharing() {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::filesystem::path dir;
  std::filesystem::path path;
};

TEST_F(CoreWinFiles, ReplacesAnExistingFile) {
  ASSERT_TRUE(ReplaceFileBytes(path, std::string("old\0bytes", 9)));
  EXPECT_EQ(Read(), std::string("old\0bytes", 9));
  ASSERT_TRUE(ReplaceFileBytes(path, "new"));
  EXPECT_EQ(Read(), "new");
  ASSERT_TRUE(ReplaceFileBytes(path, ""));
  EXPECT_EQ(Read(), "");
  EXPECT_FALSE(std::filesystem::exists(Temp()));
  std::string none;
  EXPECT_FALSE(ReadFileBytes(path.native() + L".missing", none));
}

TEST_F(CoreWinFiles, ATemporaryThatCannotBeWrittenLeavesTheFile) {
  ASSERT_TRUE(ReplaceFileBytes(path, "previous"));
  std::filesystem::create_directory(Temp());
  EXPECT_FALSE(ReplaceFileBytes(path, "next"));
  EXPECT_EQ(Read(), "previous");
  std::filesystem::remove(Temp());
}

// Only a file held open by another program is waited for; a read-only one,
// or one that cannot be replaced at all, fails at once (a wait there froze the
// window for every save). Whatever fails leaves the file whole and no
// temporary file behind.
TEST_F(CoreWinFiles, RetriesOnlyWhileAnotherProgramHoldsTheFile) {
  const struct {
    const char* name;
    bool readOnly, folder, held, releaseOnRetry, saved;
    int minRetries, maxRetries;
  } cases[] = {
      {"read-only", true, false, false, false, false, 0, 0},
      {"a folder in its place", false, true, false, false, false, 0, 0},
      {"held throughout", false, false, true, false, false, 1, 100},
      {"let go while waited for", false, false, true, true, true, 1, 100},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path);
    if (k.folder) std::filesystem::create_directory(path);
    ASSERT_TRUE(k.folder || ReplaceFileBytes(path, "previous"));
    ASSERT_TRUE(!k.readOnly || SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE held = k.held ? HoldWithoutSharing() : INVALID_HANDLE_VALUE;
    ASSERT_EQ(held != INVALID_HANDLE_VALUE, k.held);
    int retries = 0;
    SetReplaceRetryHook([&] {
      ++retries;
      if (k.releaseOnRetry && held != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
    });
    EXPECT_EQ(ReplaceFileBytes(path, "next"), k.saved);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_GE(retries, k.minRetries);
    EXPECT_LE(retries, k.maxRetries);
    EXPECT_EQ(k.folder ? "" : Read(), k.folder ? "" : k.saved ? "next" : "previous");
    EXPECT_FALSE(std::filesystem::exists(Temp()));
  }
}

TEST_F(CoreWinFiles, ReadsAFileOthersHaveOpen) {
  ASSERT_TRUE(ReplaceFileBytes(path, "content"));
  const HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(), "content");
  CloseHandle(other);
}

// A path kept as the program's text (a sound in data.dat, a dialog's answer)
// still names the file when the folder's name does not fit cp1251.
TEST_F(CoreWinFiles, PathsOutsideCp1251BecomeTextThatStillNamesTheFile) {
  ASSERT_TRUE(ReplaceFileBytes(path, "x"));
  const std::filesystem::path cyrillic = dir / L"\u0437\u0432\u0443\u043a.ogg";  // fits cp1251
  ASSERT_TRUE(ReplaceFileBytes(cyrillic, "y"));
  struct Case {
    std::filesystem::path file;
    bool exists;
  } cases[] = {{path, true}, {cyrillic, true}, {dir / L"later.ogg", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.file.wstring()));
    const std::string text = PathText(c.file.wstring());
    EXPECT_EQ(text.find('?'), std::string::npos) << text;
    if (c.exists) {
      EXPECT_TRUE(std::filesystem::equivalent(Widen(text), c.file)) << text;
    } else {
      EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(Widen(text)).parent_path(), dir)) << text;
    }
  }
  EXPECT_EQ(PathText(L"C:\\\u0417\u0432\u0443\u043a\\a.ogg"), "C:\\\xC7\xE2\xF3\xEA\\a.ogg");
}

}  // namespace
}  // namespace zelt
