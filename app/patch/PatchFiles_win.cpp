#include "app/patch/PatchFiles_win.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zelt::patch {

namespace {

constexpr char kMagic[8] = {'Z', 'P', 'A', 'Y', 'L', 'O', 'A', 'D'};
constexpr char kJournalHeader[] = "ZeltUpdate journal\n";
constexpr size_t kMaxJournalBytes = 1u << 20;
constexpr int kMoveAttempts = 50;
constexpr DWORD kMoveRetryMs = 100;

MoveHook g_moveHook;

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  bool Take(size_t n, std::string_view& out) {
    if (s_.size() - pos_ < n) return false;
    out = s_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  template <class T>
  bool Number(T& v) {
    std::string_view b;
    if (!Take(sizeof(T), b)) return false;
    v = 0;
    for (size_t i = sizeof(T); i-- > 0;) v = static_cast<T>((v << 8) | static_cast<unsigned char>(b[i]));
    return true;
  }
  bool AtEnd() const { return pos_ == s_.size(); }

 private:
  std::string_view s_;
  size_t pos_ = 0;
};

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool EndsWith(const std::wstring& name, const wchar_t* suffix) {
  const size_t n = wcslen(suffix);
  return name.size() >= n && SameName(name.substr(name.size() - n), suffix);
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (and CONIN$, CONOUT$), with any extension.
bool DeviceName(const std::wstring& step) {
  const std::wstring base = step.substr(0, step.find(L'.'));
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (SameName(base, device)) return true;
  return base.size() == 4 && (SameName(base.substr(0, 3), L"COM") || SameName(base.substr(0, 3), L"LPT")) &&
         base[3] >= L'1' && base[3] <= L'9';
}

bool SafeStep(const std::wstring& step) {
  if (step.empty() || step == L"." || step == L".." || step.back() == L'.' || step.back() == L' ' ||
      DeviceName(step))
    return false;
  for (wchar_t c : step)
    if (c < 0x20 || wcschr(L"<>:\"/|?*~", c)) return false;
  return true;
}

std::wstring FromUtf8(std::string_view s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(std::max(n, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Creates the folders on the way to a file below `dir`.
void MakeParents(const std::wstring& dir, const std::wstring& name) {
  for (size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1))
    CreateDirectoryW((dir + name.substr(0, slash)).c_str(), nullptr);
}

bool WriteWhole(const std::wstring& path, std::string_view bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
    done += written;
  }
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

std::string ReadSmall(const std::wstring& path, bool& exists) {
  exists = false;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  exists = true;
  std::string text;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart >= 0 && static_cast<uint64_t>(size.QuadPart) <= kMaxJournalBytes) {
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &got, nullptr) || got != text.size()) text.clear();
  }
  CloseHandle(h);
  return text;
}

// A file that the program (or a scanner) has only just let go of may still
// be held for a moment.
bool Move(const std::wstring& from, const std::wstring& to) {
  if (g_moveHook && !g_moveHook(from, to)) return false;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD err = GetLastError();
    const bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_LOCK_VIOLATION;
    if (!held || attempt == kMoveAttempts) return false;
    Sleep(kMoveRetryMs);
  }
}

struct Entry {
  std::wstring name;
  bool hadOld = false;
};

// What the journal says is under way: the new files being written (nothing
// installed touched yet), the swap towards them, or back from them.
enum class Phase { Write, Forward, Back };
const char* const kPhaseNames[] = {"write", "forward", "back"};

class Swap {
 public:
  Swap(const std::wstring& dir, std::vector<Entry> entries) : dir_(dir), entries_(std::move(entries)) {}

  std::wstring Target(const Entry& e) const { return dir_ + e.name; }
  std::wstring Fresh(const Entry& e) const { return dir_ + e.name + L".new"; }
  std::wstring Aside(const Entry& e) const { return dir_ + e.name + L".old"; }
  std::wstring Journal() const { return dir_ + kJournalName; }
  const std::vector<Entry>& Entries() const { return entries_; }

  // The journal, written whole beside and then renamed over the last one.
  bool Record(Phase phase) const {
    std::string text = std::string(kJournalHeader) + kPhaseNames[static_cast<int>(phase)] + "\n";
    for (const Entry& e : entries_) text += (e.hadOld ? "1 " : "0 ") + ToUtf8(e.name) + "\n";
    const std::wstring temp = Journal() + L".tmp";
    return WriteWhole(temp, text) &&
           MoveFileExW(temp.c_str(), Journal().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }

  // One file a step towards the new version: the old one set aside, the new
  // one in place. Nothing to do once ".new" is gone.
  bool Forward(const Entry& e) const {
    if (!Exists(Fresh(e))) return true;
    if (e.hadOld && Exists(Target(e)) && !Move(Target(e), Aside(e))) return false;
    return Move(Fresh(e), Target(e));
  }
  // Its inverse: the new file back to ".new", the old one back in place.
  bool Back(const Entry& e) const {
    if (!Exists(Fresh(e)) && Exists(Target(e)) && !Move(Target(e), Fresh(e))) return false;
    return !(e.hadOld && Exists(Aside(e))) || Move(Aside(e), Target(e));
  }

  // All files forward, then the old ones deleted and the journal with them.
  bool Finish() const {
    for (const Entry& e : entries_)
      if (!Forward(e)) return false;
    bool clean = true;
    for (const Entry& e : entries_)
      if (e.hadOld && !DeleteFileW(Aside(e).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) clean = false;
    // An old file still held (the running program's own) goes next time.
    if (clean) DeleteFileW(Journal().c_str());
    return true;
  }
  // Only new files written: they go, and the journal with them.
  void Discard() const {
    for (const Entry& e : entries_) DeleteFileW(Fresh(e).c_str());
    DeleteFileW(Journal().c_str());
  }
  // All files back, the last first; what could not be put back is listed.
  // The new files go only when all are back.
  std::wstring Undo() const {
    std::wstring left;
    for (size_t i = entries_.size(); i-- > 0;)
      if (!Back(entries_[i])) left += (left.empty() ? L"" : L", ") + entries_[i].name;
    if (left.empty()) {
      for (const Entry& e : entries_) DeleteFileW(Fresh(e).c_str());
      DeleteFileW(Journal().c_str());
    }
    return left;
  }

 private:
  std::wstring dir_;
  std::vector<Entry> entries_;
};

// The journal's phase and entries; false when it is not one we wrote.
bool ParseJournal(std::string_view text, Phase& phase, std::vector<Entry>& entries) {
  if (text.substr(0, sizeof kJournalHeader - 1) != kJournalHeader || text.empty() || text.back() != '\n')
    return false;
  size_t pos = sizeof kJournalHeader - 1;
  auto line = [&](std::string_view& out) {
    const size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) return false;
    out = text.substr(pos, end - pos);
    pos = end + 1;
    return true;
  };
  std::string_view name;
  if (!line(name)) return false;
  const auto known = std::find(std::begin(kPhaseNames), std::end(kPhaseNames), name);
  if (known == std::end(kPhaseNames)) return false;
  phase = static_cast<Phase>(known - std::begin(kPhaseNames));
  entries.clear();
  for (std::string_view l; pos < text.size();) {
    if (!line(l) || l.size() < 3 || (l[0] != '0' && l[0] != '1') || l[1] != ' ') return false;
    Entry e{FromUtf8(l.substr(2)), l[0] == '1'};
    if (!SafeName(e.name)) return false;
    for (const Entry& seen : entries)
      if (SameName(seen.name, e.name)) return false;
    entries.push_back(std::move(e));
  }
  return !entries.empty();
}

}  // namespace

void SetMoveHook(MoveHook hook) { g_moveHook = std::move(hook); }

bool SafeName(const std::wstring& name) {
  if (name.empty() || name.front() == L'\\') return false;
  for (size_t start = 0; start <= name.size();) {
    const size_t end = std::min(name.find(L'\\', start), name.size());
    if (!SafeStep(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return !SameName(name, L"data.dat") && !SameName(name, kJournalName) &&
         !SameName(name, std::wstring(kJournalName) + L".tmp") && !EndsWith(name, L".new") && !EndsWith(name, L".old");
}

bool ParsePayload(std::string_view payload, std::vector<TPatchFile>& files) {
  files.clear();
  Reader r(payload);
  std::string_view magic;
  uint32_t count = 0;
  if (!r.Take(sizeof kMagic, magic) || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0 || !r.Number(count))
    return false;
  std::vector<TPatchFile> out;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t nameLength = 0;
    uint32_t size = 0;
    std::string_view name, bytes;
    if (!r.Number(nameLength) || !r.Take(nameLength, name) || !r.Number(size) || !r.Take(size, bytes)) return false;
    TPatchFile file{FromUtf8(name), bytes};
    if (!SafeName(file.Name)) return false;
    for (const TPatchFile& seen : out)
      if (SameName(seen.Name, file.Name)) return false;
    out.push_back(std::move(file));
  }
  if (!r.AtEnd() || out.empty()) return false;
  files = std::move(out);
  return true;
}

TPatchResult ApplyPatch(const std::wstring& dir, const std::vector<TPatchFile>& files, std::wstring& failed,
                        std::wstring& left) {
  failed.clear();
  left.clear();
  std::vector<Entry> entries;
  for (const TPatchFile& f : files) entries.push_back({f.Name, Exists(dir + f.Name)});
  const Swap swap(dir, std::move(entries));
  // The journal first: whatever stops the patch from here on leaves nothing
  // of it behind at the next start.
  if (!swap.Record(Phase::Write)) {
    failed = kJournalName;
    return TPatchResult::RolledBack;
  }
  // Every new file whole on disk: a full disk stops the patch here, before
  // anything of the installed program was touched.
  for (size_t i = 0; i < files.size(); ++i) {
    MakeParents(dir, files[i].Name);
    if (!WriteWhole(swap.Fresh(swap.Entries()[i]), files[i].Bytes)) {
      failed = files[i].Name;
      swap.Discard();
      return TPatchResult::RolledBack;
    }
  }
  if (!swap.Record(Phase::Forward)) {
    failed = kJournalName;
    swap.Discard();
    return TPatchResult::RolledBack;
  }
  for (const Entry& e : swap.Entries()) {
    if (swap.Forward(e)) continue;
    failed = e.name;
    // Turned back; should even that not be recorded, the files still go back,
    // and the journal left pointing forward finishes the patch next time.
    const bool recorded = swap.Record(Phase::Back);
    left = swap.Undo();
    if (!recorded) left += (left.empty() ? L"" : L", ") + std::wstring(kJournalName);
    return left.empty() ? TPatchResult::RolledBack : TPatchResult::Broken;
  }
  swap.Finish();
  return TPatchResult::Applied;
}

bool InstalledVersion(const std::wstring& exe, TVersion& version) {
  HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!image) return false;
  // VS_VERSIONINFO: three 16-bit fields, the key "VS_VERSION_INFO" with its
  // terminator, padding to 32 bits, then VS_FIXEDFILEINFO.
  constexpr size_t kFixedAt = 40;
  bool found = false;
  HRSRC res = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  HGLOBAL data = res ? LoadResource(image, res) : nullptr;
  const auto* bytes = static_cast<const unsigned char*>(data ? LockResource(data) : nullptr);
  if (bytes && SizeofResource(image, res) >= kFixedAt + sizeof(VS_FIXEDFILEINFO)) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, bytes + kFixedAt, sizeof fixed);
    found = fixed.dwSignature == 0xFEEF04BD;
    version = {HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS),
               LOWORD(fixed.dwFileVersionLS)};
  }
  FreeLibrary(image);
  return found;
}

TRecovery RecoverPatch(const std::wstring& dir, std::wstring& left) {
  left.clear();
  bool exists = false;
  const std::string text = ReadSmall(dir + kJournalName, exists);
  if (!exists) return TRecovery::Nothing;
  Phase phase = Phase::Write;
  std::vector<Entry> entries;
  if (!ParseJournal(text, phase, entries)) {
    left = kJournalName;
    return TRecovery::Broken;
  }
  const Swap swap(dir, std::move(entries));
  if (phase == Phase::Write) {
    swap.Discard();
    return TRecovery::RolledBack;
  }
  // Forward and back undo each other: a start that cannot finish undoes.
  if (phase == Phase::Forward && swap.Finish()) return TRecovery::Finished;
  left = swap.Undo();
  return left.empty() ? TRecovery::RolledBack : TRecovery::Broken;
}

TPatchLock::TPatchLock(DWORD waitMs) {
  mutex_ = CreateMutexW(nullptr, FALSE, L"Local\\ZeltRarazovoPatch");
  if (!mutex_) return;
  const DWORD r = WaitForSingleObject(mutex_, waitMs);
  // Abandoned: a patch ended halfway, which is what the holder recovers from.
  held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

TPatchLock::~TPatchLock() {
  if (held_) ReleaseMutex(mutex_);
  if (mutex_) CloseHandle(mutex_);
}

}  // namespace zelt::patch
