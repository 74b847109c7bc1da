// The patch: started by the program from a folder of its own under the
// user's temporary folder, with the program's folder as its argument (or,
// started by hand without one, working on the folder it lies in). It
// finishes or undoes an earlier patch that was interrupted, refuses to put
// in a version that is not newer than the installed one, ends the running
// copy the way other programs are meant to (ZELTI_FIND / ZELTI_HERE, then
// ZELTI_HALT, so the copy saves data.dat on its normal way out), waits until
// the copy and its single-instance mutex are gone, puts its files in place
// and starts the program again. Whatever fails leaves the old files, or puts
// them back, starts the old program and says so; what could not be put back
// is named.
//
// Its payload comes from its own loaded image, never from a path. Its
// folder is left to the program, which removes it at its next start.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/patch/PatchFiles_win.h"
#include "base/ProductNames.h"
#include "base/ScopedWin.h"
#include "base/System_win.h"
#include "base/uZELTIMessages.h"

namespace {

using zelt::TScopedHandle;
using zelt::patch::TPatchFile;

constexpr wchar_t kCaption[] = L"Zelt Rarazovo";
// How long the running copy gets to save and end, and another patch to finish.
constexpr DWORD kHaltWaitMs = 30000;
constexpr DWORD kLockWaitMs = 60000;

int g_here = 0;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != 0 && msg == zelt::ZELTI_HERE) {
    ++g_here;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

std::string_view Payload() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(self, L"PAYLOAD", MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL data = res ? LoadResource(self, res) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  return bytes ? std::string_view(static_cast<const char*>(bytes), SizeofResource(self, res)) : std::string_view();
}

// The processes that show the program's main window, to wait for their end.
std::vector<TScopedHandle> RunningCopies() {
  std::vector<TScopedHandle> found;
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (lstrcmpW(name, zelt::kMainWindowClass.Wide) != 0) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid))
          reinterpret_cast<std::vector<TScopedHandle>*>(lp)->emplace_back(process);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

bool MutexGone() {
  const TScopedHandle m(OpenMutexW(SYNCHRONIZE, FALSE, zelt::kMutexName.Wide));
  return !m && GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Asks any running copy to end and waits for it; false when it is still
// there after the wait.
bool EndRunningCopy() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZeltPatchWindow";
  RegisterClassW(&wc);
  // Hidden and top-level: broadcasts reach it, message-only windows miss them.
  const zelt::TScopedWindow window(
      CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr));
  zelt::Broadcast(zelt::ZELTI_FIND);  // the answer arrives while the broadcast waits
  const std::vector<TScopedHandle> copies = RunningCopies();
  if (g_here > 0 || !copies.empty()) zelt::Broadcast(zelt::ZELTI_HALT);
  const DWORD start = GetTickCount();
  bool gone = false;
  for (;;) {
    bool ended = true;
    for (const TScopedHandle& h : copies) ended = ended && WaitForSingleObject(h.get(), 0) == WAIT_OBJECT_0;
    gone = ended && MutexGone();
    if (gone || GetTickCount() - start > kHaltWaitMs) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(100);
  }
  return gone;
}

void StartProgram(const std::wstring& dir) {
  const std::wstring exe = dir + zelt::kProgramFileName.Wide;
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) {
    // Not waited for: the program runs on after the patch ends.
    const TScopedHandle process(pi.hProcess), thread(pi.hThread);
  }
}

// The folder to work on, ending in a backslash: the argument made absolute,
// or this file's own folder.
std::wstring ProgramFolder() {
  std::wstring given = __argc == 2 ? std::wstring(__wargv[1]) : zelt::FolderOf(zelt::ExeFilePath());
  if (given.empty()) return {};
  std::wstring full(32768, L'\0');
  const DWORD n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return {};
  full.resize(n);
  if (full.back() != L'\\') full += L'\\';
  return full;
}

std::wstring VersionText(const zelt::TVersion& v) {
  size_t shown = v.size();
  while (shown > 2 && v[shown - 1] == 0) --shown;
  std::wstring text;
  for (size_t i = 0; i < shown; ++i) text += (i ? L"." : L"") + std::to_wstring(v[i]);
  return text;
}

void Tell(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  zelt::LoadDllsFromSystemFolderOnly();
  zelt::RegisterInstanceMessages();
  using namespace zelt::patch;
  const std::wstring dir = ProgramFolder();
  zelt::TVersion own{}, installed{};
  std::vector<TPatchFile> files;
  if (dir.empty() || !zelt::ParseVersion(ZELT_PATCH_VERSION, own) || !ParsePayload(Payload(), files)) {
    Tell(L"Файл обновления повреждён. Обновление не установлено.");
    return 1;
  }
  std::wstring left, failed;
  TPatchResult result = TPatchResult::RolledBack;
  {
    // Released before the program starts again, whose start looks for an
    // interrupted patch too.
    TPatchLock lock(kLockWaitMs);
    if (!lock.Held()) {
      Tell(L"Уже устанавливается другое обновление. Это обновление не установлено.");
      return 1;
    }
    if (RecoverPatch(dir, left) == TRecovery::Broken) {
      Tell(L"Прерванное обновление не удалось ни завершить, ни отменить: не восстановлено " + left +
           L". Переустановите программу.");
      return 1;
    }
    if (!InstalledVersion(dir + zelt::kProgramFileName.Wide, installed)) {
      Tell(L"В папке " + dir + L" нет программы Zelt Rarazovo. Обновление не установлено.");
      return 1;
    }
    if (!(own > installed)) {
      Tell(L"Это обновление до версии " + VersionText(own) + L", а установлена версия " + VersionText(installed) +
           L". Обновление не установлено.");
      return 1;
    }
    if (!EndRunningCopy()) {
      Tell(L"Программа не закрылась. Обновление не установлено, работает прежняя версия.");
      return 1;
    }
    result = ApplyPatch(dir, files, failed, left);
  }
  StartProgram(dir);
  if (result == TPatchResult::RolledBack)
    Tell(L"Не удалось заменить файл " + failed + L". Обновление не установлено, восстановлена прежняя версия.");
  if (result == TPatchResult::Broken)
    Tell(L"Не удалось заменить файл " + failed + L", и прежнюю версию не удалось восстановить: остались " + left +
         L". Переустановите программу.");
  return result == TPatchResult::Applied ? 0 : 1;
}
