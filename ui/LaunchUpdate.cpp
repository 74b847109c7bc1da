#include "ui/LaunchUpdate.h"

#include <algorithm>

#include "base/Path.h"
#include "base/Text_win.h"
#include "widgets/Application.h"
#include "widgets/Desktop.h"

namespace zelt {

namespace {
std::wstring TempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(temp, n);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written != chunk) return false;
    done += written;
  }
  return FlushFileBuffers(file) != FALSE;
}

// Whether the whole file behind `file` is `bytes`.
bool Holds(HANDLE file, std::string_view bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) != bytes.size()) return false;
  std::string chunk(1u << 16, '\0');
  for (size_t done = 0; done < bytes.size();) {
    const DWORD want = static_cast<DWORD>(std::min(bytes.size() - done, chunk.size()));
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), want, &got, nullptr) || got != want ||
        bytes.compare(done, want, chunk.data(), want) != 0)
      return false;
    done += got;
  }
  return true;
}
}  // namespace

TStagedPatch::~TStagedPatch() {
  if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
}

void TStagedPatch::Discard() {
  if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
  held_ = INVALID_HANDLE_VALUE;
  if (path_.empty()) return;
  DeleteFileW(path_.c_str());
  RemoveDirectoryW(FolderOf(path_).c_str());
  path_.clear();
}

bool TStagedPatch::Write(std::string_view bytes) {
  Discard();
  const std::wstring temp = TempFolder();
  if (temp.empty()) return false;
  // A folder nobody has seen before: creating it fails if the name is taken.
  std::wstring folder;
  for (int attempt = 0; folder.empty() && attempt < 100; ++attempt) {
    const std::wstring name = temp + kPatchFolderPrefix.Wide + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt);
    if (CreateDirectoryW(name.c_str(), nullptr))
      folder = name;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  if (folder.empty()) return false;
  path_ = folder + L"\\" + kPatchFileName.Wide;
  HANDLE out = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = out != INVALID_HANDLE_VALUE && WriteAll(out, bytes);
  if (out != INVALID_HANDLE_VALUE) ok = CloseHandle(out) && ok;
  if (!ok) Discard();
  return ok;
}

bool TStagedPatch::Hold(std::string_view bytes) {
  if (path_.empty()) return false;
  if (held_ == INVALID_HANDLE_VALUE)
    held_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
  const bool ok = held_ != INVALID_HANDLE_VALUE && Holds(held_, bytes);
  if (!ok) Discard();
  return ok;
}

void RemoveStagedPatches() {
  const std::wstring temp = TempFolder();
  if (temp.empty()) return;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((temp + kPatchFolderPrefix.Wide + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // Only real folders: a link there is not ours to follow.
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    const std::wstring folder = temp + found.cFileName;
    DeleteFileW((folder + L"\\" + kPatchFileName.Wide).c_str());
    RemoveDirectoryW(folder.c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text ? text : L"";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L' ' || message.back() == L'\r' || message.back() == L'\n'))
    message.pop_back();
  return Narrow(message);
}

bool LaunchUpdate(TApplication& app, const std::wstring& patch, const std::wstring& programDir) {
  // The wide call keeps a folder name outside the system's ANSI code page
  // intact. The folder goes without its last backslash, which would escape
  // the closing quote.
  std::wstring dir = programDir;
  while (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  if (!dir.empty() && dir.back() == L':') dir += L"\\.";
  const std::wstring parameters = L"\"" + dir + L"\"", folder = FolderOf(patch);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // 0x40 | 0x100, and no error box of the shell's own: the program reports a
  // failure itself, and the shell's box would replace the error code with its
  // own (the report would then read "Success.").
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
  info.hwnd = GetActiveWindow();
  info.lpVerb = L"open";
  info.lpFile = patch.c_str();
  info.lpParameters = parameters.c_str();
  // Not the program's folder, which the patch is about to change.
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (app.Desktop().Start(info)) {
    // The update runs on its own: nothing waits for it.
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
  }
  DWORD error = GetLastError();
  // A shell that set no error code still says why in hInstApp (its codes up
  // to 32 are the system's for the same failures).
  const auto shellCode = reinterpret_cast<INT_PTR>(info.hInstApp);
  if (error == ERROR_SUCCESS && shellCode > 0 && shellCode <= 32) error = static_cast<DWORD>(shellCode);
  app.Desktop().Message(app.Owner(), SystemErrorText(error), app.Title(), MB_OK | MB_SETFOREGROUND);
  return false;
}

}  // namespace zelt
