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

// Live, non-stock GDI objects by kind.
struct GdiCounts {
  int dc = 0, region = 0, bitmap = 0, palette = 0, font = 0, brush = 0, pen = 0, other = 0;
  bool valid = false;  // false when the table could not be read
};

// The table: 65536 entries of 24 bytes. An entry holds the kernel object
// (8 bytes), the owner (4), the upper half of the handle (2: its low byte is
// the object's full type, bit 7 of it marking a stock object), the base type
// (1; 0 for a free entry), flags (1) and the user pointer (8).
inline constexpr size_t kGdiTableOffset = 0xF8;  // GdiSharedHandleTable in the 64-bit PEB
inline constexpr size_t kGdiEntries = 0x10000;
inline constexpr size_t kGdiEntrySize = 24;

inline GdiCounts CountGdiTable(const unsigned char* table) {
  GdiCounts c;
  c.valid = true;
  for (size_t i = 0; i < kGdiEntries; ++i) {
    const unsigned char* e = table + i * kGdiEntrySize;
    if (e[14] == 0 || (e[12] & 0x80) != 0) continue;
    // The full type tells a pen from a brush and a memory DC from a DC,
    // which share their base type.
    switch (e[12] & 0x7f) {
      case 0x01:  // DC
      case 0x21:  // enhanced metafile DC
      case 0x41:  // memory DC (Wine)
      case 0x66:  // metafile DC
        ++c.dc;
        break;
      case 0x05:  // bitmap (Windows), surface (Wine)
      case 0x09:  // bitmap (Wine)
        ++c.bitmap;
        break;
      case 0x04: ++c.region; break;
      case 0x08: ++c.palette; break;
      case 0x0a: ++c.font; break;
      case 0x10: ++c.brush; break;
      case 0x30:  // pen
      case 0x50:  // extended pen
        ++c.pen;
        break;
      default: ++c.other; break;
    }
  }
  return c;
}

// The GDI objects of a process opened with PROCESS_QUERY_INFORMATION |
// PROCESS_VM_READ (or GetCurrentProcess()); valid is false when unreadable.
inline GdiCounts ProcessGdiCounts(HANDLE process) {
  using QueryFn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  if (!query) return {};
  PROCESS_BASIC_INFORMATION pbi{};
  if (query(process, ProcessBasicInformation, &pbi, sizeof pbi, nullptr) != 0 || !pbi.PebBaseAddress) return {};
  uint64_t table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<const char*>(pbi.PebBaseAddress) + kGdiTableOffset, &table,
                         sizeof table, &got) ||
      got != sizeof table || table == 0)
    return {};
  std::vector<unsigned char> bytes(kGdiEntries * kGdiEntrySize);
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<uintptr_t>(table)), bytes.data(),
                         bytes.size(), &got) ||
      got != bytes.size())
    return {};
  return CountGdiTable(bytes.data());
}

inline GdiCounts OwnGdiCounts() { return ProcessGdiCounts(GetCurrentProcess()); }

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
