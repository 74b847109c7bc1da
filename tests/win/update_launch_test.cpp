// Starting the downloaded patch: the shell request as made, the process
// handle closed at once, the system's text for a failure, and real starts
// of the patch stand-in under Wine.
#include <memory>
#include <string>
#include <vector>

#include "tests/win/support/update_harness.h"
#include "ui/LaunchUpdate.h"

namespace zelt::updatetest {
namespace {

using update_launch = UpdateFixture;

// A window of this thread that is active, as the main window would be.
class ActiveWindow {
 public:
  ActiveWindow() {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"active", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetActiveWindow(hwnd_);
  }
  ~ActiveWindow() { DestroyWindow(hwnd_); }
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

TEST_F(update_launch, RequestsSfxExeBesideTheProgramAndClosesTheProcessHandle) {
  ActiveWindow active;
  ASSERT_EQ(GetActiveWindow(), active.get());
  HANDLE process = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SHELLEXECUTEINFOW seen{};
  std::wstring file, verb;
  SetShellExecuteExHook([&](SHELLEXECUTEINFOW& info) {
    seen = info;
    file = info.lpFile ? info.lpFile : L"";
    verb = info.lpVerb ? info.lpVerb : L"";
    info.hProcess = process;
    return true;
  });
  EXPECT_TRUE(LaunchUpdate(programDir, app->Handle(), kCaption));
  EXPECT_EQ(seen.cbSize, sizeof(SHELLEXECUTEINFOW));
  // Process handle, wait for DDE, and no error box of the shell's own.
  EXPECT_EQ(seen.fMask, 0x40u | 0x100u | 0x400u);
  EXPECT_EQ(Narrow(verb), "open");
  EXPECT_EQ(Narrow(file), programDir + "sfx.exe");
  EXPECT_EQ(seen.lpParameters, nullptr);
  EXPECT_EQ(seen.lpDirectory, nullptr);
  EXPECT_EQ(seen.nShow, SW_SHOWNORMAL);
  EXPECT_EQ(seen.hwnd, active.get());
  // Nothing waits for the update: its handle is already closed.
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(process, &flags));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(update_launch, FailureShowsTheSystemsTextForTheLastError) {
  struct Case {
    DWORD lastError;
    INT_PTR shellCode;  // hInstApp
    DWORD shown;        // whose text the box shows
  };
  const std::vector<Case> cases = {
      {ERROR_FILE_NOT_FOUND, SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {ERROR_ACCESS_DENIED, SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED},
      {ERROR_BAD_EXE_FORMAT, 0, ERROR_BAD_EXE_FORMAT},
      // A shell that leaves the error code unset still gives its reason.
      {ERROR_SUCCESS, SE_ERR_PNF, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastError);
    boxes.clear();
    SetShellExecuteExHook([c](SHELLEXECUTEINFOW& info) {
      info.hInstApp = reinterpret_cast<HINSTANCE>(c.shellCode);
      SetLastError(c.lastError);
      return false;
    });
    EXPECT_FALSE(LaunchUpdate(programDir, app->Handle(), kCaption));
    ASSERT_EQ(boxes.size(), 1u);
    const Box& b = boxes[0];
    EXPECT_EQ(b.owner, app->Handle());
    EXPECT_EQ(b.caption, "Zelt Rarazovo 0.4");
    EXPECT_EQ(b.flags & MB_SETFOREGROUND, static_cast<UINT>(MB_SETFOREGROUND));
    EXPECT_EQ(b.flags & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    // The system's own words, without the line end it puts after them.
    wchar_t* raw = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, c.shown, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    ASSERT_NE(raw, nullptr);
    std::string system = Narrow(raw);
    LocalFree(raw);
    ASSERT_FALSE(b.text.empty());
    EXPECT_EQ(system.compare(0, b.text.size(), b.text), 0) << b.text;
    EXPECT_EQ(system.find_first_not_of(" \r\n", b.text.size()), std::string::npos);
    EXPECT_NE(b.text.back(), ' ');
    EXPECT_NE(b.text.back(), '\n');
    EXPECT_NE(b.text.back(), '\r');
  }
}

TEST_F(update_launch, MissingPatchUnderWineReportsFileNotFound) {
  SetShellExecuteExHook(nullptr);
  ShellBoxCloser shellBoxes;  // would answer a box of the shell's own
  EXPECT_FALSE(LaunchUpdate(programDir, app->Handle(), kCaption));
  EXPECT_TRUE(shellBoxes.Texts.empty());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, SystemErrorText(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(boxes[0].caption, "Zelt Rarazovo 0.4");
}

TEST_F(update_launch, StartsThePatchForRealEvenFromACyrillicFolder) {
  SetShellExecuteExHook(nullptr);
  const std::string patch = ReadFileBytes(UpdateFile("files.zip"));
  ASSERT_GT(patch.size(), 1000u) << "the build's update files are missing";
  for (const std::string& dir : {NewTempFolder("zelt-launch"), NewTempFolder("Обновление Зельт")}) {
    SCOPED_TRACE(dir);
    WriteAll(dir + "sfx.exe", patch);
    EXPECT_TRUE(LaunchUpdate(Widen(dir), app->Handle(), kCaption));
    // The patch runs on its own; its marker names the file that ran.
    const std::string marker = dir + "patch-ran.txt";
    ASSERT_TRUE(PumpUntil(*app, [&] { return FileExists(marker) && !ReadFileBytes(marker).empty(); }, 30000));
    std::wstring ran;
    const std::string utf8 = ReadFileBytes(marker);
    ran.resize(utf8.size());
    ran.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                       ran.data(), static_cast<int>(ran.size()))));
    EXPECT_EQ(CompareStringOrdinal(ran.c_str(), -1, Widen(dir + "sfx.exe").c_str(), -1, TRUE), CSTR_EQUAL)
        << utf8;
    Sleep(200);  // the patch ends right after writing its marker
    RemoveTree(dir);
  }
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace zelt::updatetest
