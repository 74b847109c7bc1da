// The patch: started by the program as "sfx.exe" beside itself once the
// download was verified. It ends the running copy the way other programs are
// meant to (ZELTI_FIND / ZELTI_HERE, then ZELTI_HALT, so the copy saves
// data.dat on its normal way out), waits until the copy and its
// single-instance mutex are gone, puts its files in place and starts the
// program again. Whatever fails leaves the old files, or puts them back,
// starts the old program and says so.
//
// A running program's file cannot be deleted, so the patch first hands over
// to a copy of itself in the temporary folder, which deletes "sfx.exe" once
// the first stage has ended: nothing is left beside the program that a later
// start could take for a new patch. The copy goes at the next restart.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/patch/PatchFiles_win.h"
#include "base/uZELTIMessages.h"

namespace {

using zelt::patch::TPatchFile;

constexpr wchar_t kMutexName[] = L"ZeltInformerMutex";
constexpr wchar_t kMainWindowClass[] = L"ZeltMainForm";
constexpr wchar_t kProgramFile[] = L"ZeltInformer.exe";
constexpr wchar_t kCaption[] = L"Zelt Rarazovo";
// How long the running copy gets to save and end.
constexpr DWORD kHaltWaitMs = 30000;

int g_here = 0;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != 0 && msg == zelt::ZELTI_HERE) {
    ++g_here;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

std::string_view Payload() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(self, L"PAYLOAD", MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL data = res ? LoadResource(self, res) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  return bytes ? std::string_view(static_cast<const char*>(bytes), SizeofResource(self, res)) : std::string_view();
}

// The processes that show the program's main window, to wait for their end.
std::vector<HANDLE> RunningCopies() {
  std::vector<HANDLE> found;
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (lstrcmpW(name, kMainWindowClass) != 0) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid))
          reinterpret_cast<std::vector<HANDLE>*>(lp)->push_back(process);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

bool MutexGone() {
  HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  if (!m) return GetLastError() == ERROR_FILE_NOT_FOUND;
  CloseHandle(m);
  return false;
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
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                                nullptr);
  zelt::Broadcast(zelt::ZELTI_FIND);  // the answer arrives while the broadcast waits
  std::vector<HANDLE> copies = RunningCopies();
  if (g_here > 0 || !copies.empty()) zelt::Broadcast(zelt::ZELTI_HALT);
  const DWORD start = GetTickCount();
  bool gone = false;
  for (;;) {
    bool ended = true;
    for (HANDLE h : copies) ended = ended && WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    gone = ended && MutexGone();
    if (gone || GetTickCount() - start > kHaltWaitMs) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(100);
  }
  for (HANDLE h : copies) CloseHandle(h);
  if (window) DestroyWindow(window);
  return gone;
}

void StartProgram(const std::wstring& dir) {
  const std::wstring exe = dir + kProgramFile;
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

// Nothing named "sfx.exe" stays behind to be taken for a new patch: the
// image of a running program cannot always be deleted, so what cannot go
// now goes at the next restart.
void RemoveSelf(const std::wstring& self) {
  if (!DeleteFileW(self.c_str())) MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// First stage: starts the copy in the temporary folder, handing it this
// process (to wait for) and the program's folder. False when there is no
// copy; the patch then runs where it is.
bool HandOver(const std::wstring& self, const std::wstring& dir) {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return false;
  const std::wstring copy = std::wstring(temp) + L"ZeltPatch-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) return false;
  HANDLE me = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &me, SYNCHRONIZE, TRUE, 0)) {
    DeleteFileW(copy.c_str());
    return false;
  }
  // The folder without its last backslash, which would escape the quote.
  std::wstring commandLine = L"\"" + copy + L"\" " + std::to_wstring(reinterpret_cast<uintptr_t>(me)) + L" \"" +
                             dir.substr(0, dir.size() - 1) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const bool started = CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      temp, &si, &pi);
  CloseHandle(me);
  if (!started) {
    DeleteFileW(copy.c_str());
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// Second stage: waits for the first to end and deletes its file.
void TakeOver(HANDLE firstStage, const std::wstring& dir) {
  WaitForSingleObject(firstStage, 10000);
  CloseHandle(firstStage);
  const std::wstring patch = dir + L"sfx.exe";
  for (int attempt = 0; attempt < 50 && !DeleteFileW(patch.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND;
       ++attempt)
    Sleep(100);
}

void Tell(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  zelt::RegisterInstanceMessages();
  const std::wstring self = OwnPath();
  const size_t slash = self.find_last_of(L'\\');
  if (slash == std::wstring::npos) return 1;
  std::wstring dir = self.substr(0, slash + 1);
  if (__argc == 3) {
    // The copy in the temporary folder: the first stage and the program's folder.
    dir = std::wstring(__wargv[2]) + L"\\";
    TakeOver(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(_wcstoui64(__wargv[1], nullptr, 10))), dir);
  } else if (HandOver(self, dir)) {
    return 0;
  }

  std::vector<TPatchFile> files;
  if (!zelt::patch::ParsePayload(Payload(), files)) {
    RemoveSelf(self);
    Tell(L"Файл обновления повреждён. Обновление не установлено.");
    return 1;
  }
  if (!EndRunningCopy()) {
    RemoveSelf(self);
    Tell(L"Программа не закрылась. Обновление не установлено, работает прежняя версия.");
    return 1;
  }
  std::wstring failed;
  const bool applied = zelt::patch::ApplyPatch(dir, files, failed);
  StartProgram(dir);
  RemoveSelf(self);
  if (!applied) {
    Tell(L"Не удалось заменить файл " + failed + L". Обновление не установлено, восстановлена прежняя версия.");
    return 1;
  }
  return 0;
}
