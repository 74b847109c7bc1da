// Counting a process's GDI objects and windows where GetGuiResources and
// GetProcessHandleCount answer 0 (under Wine): the GDI objects are read from
// the GDI handle table that the process environment block points to, the
// windows are enumerated. Used by ZeltProbe (another process) and by the
// window tests (their own process). Win32 only.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelt::gdicount {

// The table: 65536 entries of 24 bytes. An entry holds the kernel object
// (8 bytes), the owner (4), the upper half of the handle (2: its low byte is
// the object's full type, bit 7 of it marking a stock object), the base type
// (1; 0 for a free entry), flags (1) and the user pointer (8).
inline constexpr size_t kGdiTableOffset = 0xF8;  // GdiSharedHandleTable in the 64-bit PEB
inline constexpr size_t kGdiEntries = 0x10000;
inline constexpr size_t kGdiEntrySize = 24;

// The live, non-stock GDI objects of a process opened with
// PROCESS_QUERY_INFORMATION | PROCESS_VM_READ (or GetCurrentProcess()); -1
// when its table cannot be read.
inline int ProcessGdiCount(HANDLE process) {
  using QueryFn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  if (!query) return -1;
  PROCESS_BASIC_INFORMATION pbi{};
  if (query(process, ProcessBasicInformation, &pbi, sizeof pbi, nullptr) != 0 || !pbi.PebBaseAddress) return -1;
  // A read fails whole when any part of it cannot be read.
  uint64_t table = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<const char*>(pbi.PebBaseAddress) + kGdiTableOffset, &table,
                         sizeof table, nullptr) ||
      table == 0)
    return -1;
  std::vector<unsigned char> bytes(kGdiEntries * kGdiEntrySize);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<uintptr_t>(table)), bytes.data(),
                         bytes.size(), nullptr))
    return -1;
  int live = 0;
  for (size_t i = 0; i < kGdiEntries; ++i) {
    const unsigned char* e = bytes.data() + i * kGdiEntrySize;
    live += e[14] != 0 && (e[12] & 0x80) == 0;
  }
  return live;
}

inline int OwnGdiCount() { return ProcessGdiCount(GetCurrentProcess()); }

// An EnumWindows callback: adds each window to the std::vector<HWND> it is given.
inline BOOL CALLBACK Collect(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

// The windows of a process: its top-level windows and, when asked, its
// message-only ones (EnumWindows does not list those), each with all its
// descendants.
inline std::vector<HWND> ProcessWindows(DWORD pid, bool messageOnlyToo) {
  std::vector<HWND> tops, found;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&tops));
  if (messageOnlyToo)
    for (HWND m = nullptr; (m = FindWindowExW(HWND_MESSAGE, m, nullptr, nullptr)) != nullptr;) tops.push_back(m);
  for (HWND top : tops) {
    DWORD owner = 0;
    GetWindowThreadProcessId(top, &owner);
    if (owner != pid) continue;
    found.push_back(top);
    EnumChildWindows(top, Collect, reinterpret_cast<LPARAM>(&found));
  }
  return found;
}

// Every window of the calling process: top-level, message-only, descendants.
inline int OwnWindowCount() { return static_cast<int>(ProcessWindows(GetCurrentProcessId(), true).size()); }

}  // namespace zelt::gdicount
