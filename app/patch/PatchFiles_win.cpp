#include "app/patch/PatchFiles_win.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/ByteReader.h"
#include "base/ProductNames.h"

namespace zelt::patch {

namespace {

constexpr char kMagic[8] = {'Z', 'P', 'A', 'Y', 'L', 'O', 'A', 'D'};
constexpr char kJournalHeader[] = "ZeltUpdate journal\n";
constexpr size_t kMaxJournalBytes = 1u << 20;

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

struct TEntry {
  std::wstring Name;
  bool HadOld = false;
};

// What the journal says is under way: the new files being written (nothing
// installed touched yet), the swap towards them, or back from them.
enum class TPhase { Write, Forward, Back };
const char* const kPhaseNames[] = {"write", "forward", "back"};

class TSwap {
 public:
  TSwap(const std::wstring& dir, std::vector<TEntry> entries, const TReplaceOptions& moves)
      : dir_(dir), entries_(std::move(entries)), moves_(moves) {}

  std::wstring Target(const TEntry& e) const { return dir_ + e.Name; }
  std::wstring Fresh(const TEntry& e) const { return dir_ + e.Name + L".new"; }
  std::wstring Aside(const TEntry& e) const { return dir_ + e.Name + L".old"; }
  std::wstring Journal() const { return dir_ + kJournalFileName.Wide; }
  const std::vector<TEntry>& Entries() const { return entries_; }

  // The journal, saved as data.dat is: written whole beside, then moved
  // over the last one.
  bool Record(TPhase phase) const {
    std::string text = std::string(kJournalHeader) + kPhaseNames[static_cast<int>(phase)] + "\n";
    for (const TEntry& e : entries_) text += (e.HadOld ? "1 " : "0 ") + ToUtf8(e.Name) + "\n";
    return ReplaceFileBytes(Journal(), text);
  }

  // One file a step towards the new version: the old one set aside, the new
  // one in place. Nothing to do once ".new" is gone.
  bool Forward(const TEntry& e) const {
    if (!Exists(Fresh(e))) return true;
    if (e.HadOld && Exists(Target(e)) && !Move(Target(e), Aside(e))) return false;
    return Move(Fresh(e), Target(e));
  }
  // Its inverse: the new file back to ".new", the old one back in place.
  bool Back(const TEntry& e) const {
    if (!Exists(Fresh(e)) && Exists(Target(e)) && !Move(Target(e), Fresh(e))) return false;
    return !(e.HadOld && Exists(Aside(e))) || Move(Aside(e), Target(e));
  }

  // All files forward, then the old ones deleted and the journal with them.
  bool Finish() const {
    for (const TEntry& e : entries_)
      if (!Forward(e)) return false;
    bool clean = true;
    for (const TEntry& e : entries_)
      if (e.HadOld && !DeleteFileW(Aside(e).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) clean = false;
    // An old file still held (the running program's own) goes next time.
    if (clean) DeleteFileW(Journal().c_str());
    return true;
  }
  // Only new files written: they go, and the journal with them.
  void Discard() const {
    for (const TEntry& e : entries_) DeleteFileW(Fresh(e).c_str());
    DeleteFileW(Journal().c_str());
  }
  // All files back, the last first; what could not be put back is listed.
  // The new files go only when all are back.
  std::wstring Undo() const {
    std::wstring left;
    for (size_t i = entries_.size(); i-- > 0;)
      if (!Back(entries_[i])) left += (left.empty() ? L"" : L", ") + entries_[i].Name;
    if (left.empty()) {
      for (const TEntry& e : entries_) DeleteFileW(Fresh(e).c_str());
      DeleteFileW(Journal().c_str());
    }
    return left;
  }

 private:
  bool Move(const std::wstring& from, const std::wstring& to) const { return MoveReplacing(from, to, moves_); }

  std::wstring dir_;
  std::vector<TEntry> entries_;
  const TReplaceOptions& moves_;
};

// The journal's phase and entries; false when it is not one we wrote.
bool ParseJournal(std::string_view text, TPhase& phase, std::vector<TEntry>& entries) {
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
  phase = static_cast<TPhase>(known - std::begin(kPhaseNames));
  entries.clear();
  for (std::string_view l; pos < text.size();) {
    if (!line(l) || l.size() < 3 || (l[0] != '0' && l[0] != '1') || l[1] != ' ') return false;
    TEntry e{FromUtf8(l.substr(2)), l[0] == '1'};
    if (!SafeName(e.Name)) return false;
    for (const TEntry& seen : entries)
      if (SameName(seen.Name, e.Name)) return false;
    entries.push_back(std::move(e));
  }
  return !entries.empty();
}

}  // namespace

bool SafeName(const std::wstring& name) {
  if (name.empty() || name.front() == L'\\') return false;
  for (size_t start = 0; start <= name.size();) {
    const size_t end = std::min(name.find(L'\\', start), name.size());
    if (!SafeStep(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  const std::wstring journal = kJournalFileName.Wide;
  return !SameName(name, kDataFileName.Wide) && !SameName(name, journal) && !SameName(name, journal + L".tmp") &&
         !EndsWith(name, L".new") && !EndsWith(name, L".old");
}

bool ParsePayload(std::string_view payload, std::vector<TPatchFile>& files) {
  files.clear();
  TByteReader r(payload);
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
                        std::wstring& left, const TReplaceOptions& moves) {
  failed.clear();
  left.clear();
  std::vector<TEntry> entries;
  for (const TPatchFile& f : files) entries.push_back({f.Name, Exists(dir + f.Name)});
  const TSwap swap(dir, std::move(entries), moves);
  // The journal first: whatever stops the patch from here on leaves nothing
  // of it behind at the next start.
  if (!swap.Record(TPhase::Write)) {
    failed = kJournalFileName.Wide;
    return TPatchResult::RolledBack;
  }
  // Every new file whole on disk: a full disk stops the patch here, before
  // anything of the installed program was touched.
  for (size_t i = 0; i < files.size(); ++i) {
    MakeParents(dir, files[i].Name);
    if (!WriteFileWhole(swap.Fresh(swap.Entries()[i]), files[i].Bytes)) {
      failed = files[i].Name;
      swap.Discard();
      return TPatchResult::RolledBack;
    }
  }
  if (!swap.Record(TPhase::Forward)) {
    failed = kJournalFileName.Wide;
    swap.Discard();
    return TPatchResult::RolledBack;
  }
  for (const TEntry& e : swap.Entries()) {
    if (swap.Forward(e)) continue;
    failed = e.Name;
    // Turned back; should even that not be recorded, the files still go back,
    // and the journal left pointing forward finishes the patch next time.
    const bool recorded = swap.Record(TPhase::Back);
    left = swap.Undo();
    if (!recorded) left += (left.empty() ? L"" : L", ") + std::wstring(kJournalFileName.Wide);
    return left.empty() ? TPatchResult::RolledBack : TPatchResult::Broken;
  }
  swap.Finish();
  return TPatchResult::Applied;
}

bool InstalledVersion(const std::wstring& exe, TVersion& version) {
  const TScopedModule image(
      LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!image) return false;
  // VS_VERSIONINFO: three 16-bit fields, the key "VS_VERSION_INFO" with its
  // terminator, padding to 32 bits, then VS_FIXEDFILEINFO.
  constexpr size_t kFixedAt = 40;
  bool found = false;
  HRSRC res = FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  HGLOBAL data = res ? LoadResource(image.get(), res) : nullptr;
  const auto* bytes = static_cast<const unsigned char*>(data ? LockResource(data) : nullptr);
  if (bytes && SizeofResource(image.get(), res) >= kFixedAt + sizeof(VS_FIXEDFILEINFO)) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, bytes + kFixedAt, sizeof fixed);
    found = fixed.dwSignature == 0xFEEF04BD;
    version = {HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS),
               LOWORD(fixed.dwFileVersionLS)};
  }
  return found;
}

TRecovery RecoverPatch(const std::wstring& dir, std::wstring& left, const TReplaceOptions& moves) {
  left.clear();
  std::string text;
  if (!ReadFileBytes(dir + kJournalFileName.Wide, text)) return TRecovery::Nothing;
  // Larger than any journal the patch writes: not one of ours.
  if (text.size() > kMaxJournalBytes) text.clear();
  TPhase phase = TPhase::Write;
  std::vector<TEntry> entries;
  if (!ParseJournal(text, phase, entries)) {
    left = kJournalFileName.Wide;
    return TRecovery::Broken;
  }
  const TSwap swap(dir, std::move(entries), moves);
  if (phase == TPhase::Write) {
    swap.Discard();
    return TRecovery::RolledBack;
  }
  // Forward and back undo each other: a start that cannot finish undoes.
  if (phase == TPhase::Forward && swap.Finish()) return TRecovery::Finished;
  left = swap.Undo();
  return left.empty() ? TRecovery::RolledBack : TRecovery::Broken;
}

TPatchLock::TPatchLock(DWORD waitMs) : mutex_(CreateMutexW(nullptr, FALSE, kPatchLockName.Wide)) {
  if (!mutex_) return;
  const DWORD r = WaitForSingleObject(mutex_.get(), waitMs);
  // Abandoned: a patch ended halfway, which is what the holder recovers from.
  held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

TPatchLock::~TPatchLock() {
  if (held_) ReleaseMutex(mutex_.get());
}

}  // namespace zelt::patch
