// The checker's Win32 ports under Wine: the user's own registry values
// through advapi32, and a file (data.dat, the patch's files) replaced safely
// while another program holds it, in a folder whose name does not fit cp1251.

#include <filesystem>
#include <utility>

#include "app/WinPorts_win.h"
#include "app/patch/PatchFiles_win.h"
#include "base/SafeFile.h"
#include "core/Settings.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

constexpr char kTestKey[] = "Software\\Zelt Rarazovo Test";

// The value as stored: a REG_SZ whose size counts its terminating zero;
// "(none)" when there is none.
std::wstring ValueOf(const std::string& key, const std::string& name) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return L"(none)";
  wchar_t buf[1024] = {};
  DWORD type = 0, size = sizeof buf;
  const bool ok = RegQueryValueExW(k, Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == 0;
  RegCloseKey(k);
  if (!ok) return L"(none)";
  const std::wstring value(buf);
  return type == REG_SZ && size == (value.size() + 1) * sizeof(wchar_t) ? value : value + L" (stored wrongly)";
}

TEST(WinPorts, TheRegistryWritesTheUsersOwnStringsAndCreatesOnlyWhenAsked) {
  RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
  WinRegistry reg;
  // Greek letters: nothing of the path may pass through cp1251.
  const std::wstring path = L"C:\\\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac\\Zelt Rarazovo\\ZeltInformer.exe";
  EXPECT_FALSE(reg.WriteString(kTestKey, "Path", path, false));
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));
  HKEY k;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &k), ERROR_SUCCESS) << "no key was made";
  ASSERT_TRUE(reg.WriteString(kTestKey, "Path", path, true));
  ASSERT_TRUE(reg.WriteString(kTestKey, "Other", L"x", false));  // an existing key is opened
  EXPECT_EQ(ValueOf(kTestKey, "Path"), path);
  // Wine adds a forgotten terminator itself, except to an empty string.
  ASSERT_TRUE(reg.WriteString(kTestKey, "Empty", L"", false));
  EXPECT_EQ(ValueOf(kTestKey, "Empty"), L"");
  EXPECT_TRUE(reg.DeleteValue(kTestKey, "Path"));
  EXPECT_EQ(ValueOf(kTestKey, "Path"), L"(none)");
  EXPECT_FALSE(reg.DeleteValue(kTestKey, "Path"));
  EXPECT_EQ(ValueOf(kTestKey, "Other"), L"x");
  for (const char* name : {"Other", "Empty"}) RegDeleteKeyValueA(HKEY_CURRENT_USER, kTestKey, name);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey), ERROR_SUCCESS);
}

class SafeFile : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(folder); }
  void TearDown() override { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }
  HANDLE Hold(DWORD share) { return CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr); }
  TempDir dir{"zelt-ports"};
  // A folder named in Greek: no part of a path may pass through cp1251.
  std::filesystem::path folder = (dir / "x").replace_filename(L"\u03b1\u03c1\u03c7\u03b5\u03af\u03b1");
  std::filesystem::path path = folder / L"data.dat";
};

// data.dat's save waits only for a file held open by another program; a
// read-only one, or one that cannot be replaced at all, fails at once (a wait
// there froze the window for every save). The patch waits for a denied file
// too: the program it has just ended may not have let go of it yet.
// Whatever fails leaves the file whole and no temporary file behind.
TEST_F(SafeFile, ASaveWaitsOnlyForAFileThatMayBeLetGo) {
  const struct {
    const char* name;
    bool patch, readOnly, folder, held, letGo;  // let go while waited for: saved
  } cases[] = {
      {"read-only", false, true, false, false, false},
      {"a folder in its place", false, false, true, false, false},
      {"held throughout", false, false, false, true, false},
      {"let go while waited for", false, false, false, true, true},
      {"the patch: a folder in its place, gone while waited for", true, false, true, false, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path);
    if (k.folder) std::filesystem::create_directory(path);
    ASSERT_TRUE(k.folder || ReplaceFileBytes(path, "previous"));
    ASSERT_TRUE(!k.readOnly || SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE held = k.held ? Hold(0) : INVALID_HANDLE_VALUE;
    ASSERT_EQ(held != INVALID_HANDLE_VALUE, k.held);
    int waits = 0;
    TReplaceOptions options = k.patch ? patch::SwapMoves() : TReplaceOptions{};
    options.Wait = [&] {
      if (++waits > 1 || !k.letGo) return;
      if (held != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
      if (k.folder) std::filesystem::remove(path);
    };
    EXPECT_EQ(ReplaceFileBytes(path, "next", options), k.letGo);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(waits > 0, k.held || k.patch) << waits << " waits";
    EXPECT_LE(waits, 100);
    std::string now;
    ReadFileBytes(path, now);  // a folder left in its place reads as nothing
    EXPECT_EQ(now, k.letGo ? "next" : k.folder ? "" : "previous");
    EXPECT_FALSE(std::filesystem::exists(path.native() + L".tmp")) << "no temporary file left";
  }
}

}  // namespace
}  // namespace zelt::fake
