// MediaPlayer and the sound port: the MCI commands they send, recorded at the
// MciSend seam, and one run against the system's MCI.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Platform.h"
#include "base/Text_win.h"
#include "media/MediaPlayer.h"
#include "media/SoundPlayer.h"
#include "widgets/Application.h"

namespace zelt {
namespace {

// One command as it reached the seam.
struct Sent {
  MCIDEVICEID id;
  UINT msg;
  DWORD flags;
  std::string element;
  DWORD_PTR callback;
};

// Stands in for MCI: records every command, hands out device ids 1, 2, ...
// and refuses what the test scripts.
class FakeMci {
 public:
  FakeMci() : saved_(MciSend) {
    MciSend = [this](MCIDEVICEID id, UINT msg, DWORD_PTR flags, DWORD_PTR params) {
      return Handle(id, msg, static_cast<DWORD>(flags), params);
    };
  }
  ~FakeMci() { MciSend = saved_; }
  FakeMci(const FakeMci&) = delete;
  FakeMci& operator=(const FakeMci&) = delete;

  std::vector<Sent> sent;
  int refuseShareable = 0;  // opens with the shareable flag refused, the first n
  int refuseOpens = 0;      // opens refused whatever the flags, the first n
  bool hasVideo = false;
  MCIERROR closeResult = 0;
  RECT source{0, 0, 320, 240};

 private:
  MCIERROR Handle(MCIDEVICEID id, UINT msg, DWORD flags, DWORD_PTR params) {
    Sent s{id, msg, flags, {}, reinterpret_cast<MCI_GENERIC_PARMS*>(params)->dwCallback};
    switch (msg) {
      case MCI_OPEN: {
        auto* open = reinterpret_cast<MCI_OPEN_PARMSA*>(params);
        s.element = open->lpstrElementName ? open->lpstrElementName : "";
        sent.push_back(s);
        if (refuseOpens > 0) {
          --refuseOpens;
          return MCIERR_CANNOT_LOAD_DRIVER;
        }
        if ((flags & MCI_OPEN_SHAREABLE) && refuseShareable > 0) {
          --refuseShareable;
          return MCIERR_DEVICE_OPEN;
        }
        open->wDeviceID = nextId_++;
        return 0;
      }
      case MCI_GETDEVCAPS: {
        auto* caps = reinterpret_cast<MCI_GETDEVCAPS_PARMS*>(params);
        sent.push_back(s);
        caps->dwReturn = caps->dwItem == MCI_GETDEVCAPS_HAS_VIDEO && hasVideo;
        return 0;
      }
      case MCI_WHERE:
        sent.push_back(s);
        reinterpret_cast<MCI_DGV_RECT_PARMS*>(params)->rc = source;
        return 0;
      case MCI_CLOSE:
        sent.push_back(s);
        return closeResult;
      default:
        sent.push_back(s);
        return 0;
    }
  }

  MciSendFunction saved_;
  MCIDEVICEID nextId_ = 1;
};

// "PLAY 1 notify|from": the command, the device and its flags by name.
std::string Describe(const Sent& s, const std::string& setFile) {
  struct Bit {
    DWORD bit;
    const char* name;
  };
  static const std::vector<std::pair<UINT, std::pair<const char*, std::vector<Bit>>>> table = {
      {MCI_OPEN, {"OPEN", {{MCI_OPEN_ELEMENT, "element"}, {MCI_OPEN_SHAREABLE, "shareable"}, {MCI_OPEN_ALIAS, "alias"}, {MCI_OPEN_TYPE, "type"}}}},
      {MCI_GETDEVCAPS, {"GETDEVCAPS", {{MCI_GETDEVCAPS_ITEM, "item"}}}},
      {MCI_WINDOW, {"WINDOW", {{MCI_DGV_WINDOW_HWND, "hwnd"}}}},
      {MCI_WHERE, {"WHERE", {{MCI_DGV_WHERE_SOURCE, "source"}}}},
      {MCI_SET, {"SET", {{MCI_SET_TIME_FORMAT, "time_format"}}}},
      {MCI_PLAY, {"PLAY", {{MCI_FROM, "from"}, {MCI_TO, "to"}}}},
      {MCI_STOP, {"STOP", {}}},
      {MCI_CLOSE, {"CLOSE", {}}},
  };
  std::ostringstream out;
  std::vector<Bit> bits = {{MCI_WAIT, "wait"}, {MCI_NOTIFY, "notify"}};
  const char* name = "?";
  for (const auto& [msg, entry] : table) {
    if (msg != s.msg) continue;
    name = entry.first;
    bits.insert(bits.end(), entry.second.begin(), entry.second.end());
  }
  out << name << ' ' << s.id << ' ';
  DWORD rest = s.flags;
  bool first = true;
  for (const Bit& b : bits) {
    if (!(rest & b.bit)) continue;
    out << (first ? "" : "|") << b.name;
    first = false;
    rest &= ~b.bit;
  }
  if (rest) out << (first ? "" : "|") << "0x" << std::hex << rest << std::dec;
  if (s.msg == MCI_OPEN) out << ' ' << (!setFile.empty() && s.element == setFile ? "<set>" : s.element);
  return out.str();
}

std::vector<std::string> Describe(const std::vector<Sent>& sent, const std::string& setFile) {
  std::vector<std::string> out;
  for (const Sent& s : sent) out.push_back(Describe(s, setFile));
  return out;
}

// What the checker does with its sound port for one event: stop and close
// what is open, nothing more for an empty path, open the file and play it.
void PlayEvent(ISoundPlayer& sound, const std::string& path) {
  sound.Stop();
  sound.Close();
  if (path.empty()) return;
  if (!sound.SetFileName(path)) return;
  sound.Play();
}

// A temporary folder with real files in it, removed at the end.
class TempFiles {
 public:
  TempFiles() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    dir_ = std::wstring(base) + L"zelt_media_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  ~TempFiles() {
    for (const std::wstring& f : files_) DeleteFileW(f.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  TempFiles(const TempFiles&) = delete;
  TempFiles& operator=(const TempFiles&) = delete;

  // Writes the file (name in cp1251) and returns its full path in cp1251.
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::wstring path = dir_ + Widen(name);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    files_.push_back(path);
    return Narrow(path);
  }
  std::string PathOf(const std::string& name) const { return Narrow(dir_) + name; }
  std::string Dir() const { return Narrow(dir_); }

 private:
  std::wstring dir_;
  std::vector<std::wstring> files_;
};

// A short silent PCM WAV file: 8 kHz, 8-bit mono, a tenth of a second.
std::string SilentWav() {
  const uint32_t samples = 800;
  std::string w;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) w.push_back(static_cast<char>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { for (int i = 0; i < 2; ++i) w.push_back(static_cast<char>(v >> (8 * i))); };
  w += "RIFF";
  u32(36 + samples);
  w += "WAVEfmt ";
  u32(16);
  u16(1);  // PCM
  u16(1);
  u32(8000);
  u32(8000);
  u16(1);
  u16(8);
  w += "data";
  u32(samples);
  w.append(samples, static_cast<char>(0x80));
  return w;
}

class MediaPlayerTest : public ::testing::Test {
 protected:
  // An application whose queue window takes MCI's notices, as the program
  // names it.
  void WithApplication() {
    app_ = std::make_unique<TApplication>("Zelt media test");
    MediaPlayer::NotifyWindow = app_->QueueHandle();
  }
  void WithoutApplication() {
    MediaPlayer::NotifyWindow = nullptr;
    app_.reset();
  }
  void TearDown() override { WithoutApplication(); }
  HWND AppWindow() const { return app_ ? app_->QueueHandle() : nullptr; }

  TempFiles files_;
  std::unique_ptr<TApplication> app_;
};

// --- the play sequence of one or more events -------------------------------

struct PlayCase {
  const char* name;
  std::vector<std::string> events;  // "set", "missing", "" (no sound), in order
  int refuseShareable;
  int refuseOpens;
  std::vector<bool> opened;  // what SetFileName answered, per event that got that far
  std::vector<std::string> commands;
};

const std::vector<PlayCase> kPlayCases = {
    {"set file plays from the beginning", {"set"}, 0, 0, {true},
     {"OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
      "PLAY 1 notify|from"}},
    {"empty path sends nothing", {""}, 0, 0, {}, {}},
    {"missing file sends nothing", {"missing"}, 0, 0, {false}, {}},
    {"same event twice: stop, close, open and play each time", {"set", "set"}, 0, 0, {true, true},
     {"OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
      "PLAY 1 notify|from", "STOP 1 notify", "CLOSE 1 wait", "OPEN 0 notify|element|shareable <set>",
      "GETDEVCAPS 2 wait|item", "SET 2 wait|time_format", "PLAY 2 notify|from"}},
    {"empty path after a sound closes the old device", {"set", ""}, 0, 0, {true},
     {"OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
      "PLAY 1 notify|from", "STOP 1 notify", "CLOSE 1 wait"}},
    {"missing file after a sound closes the old device and plays nothing", {"set", "missing"}, 0, 0,
     {true, false},
     {"OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
      "PLAY 1 notify|from", "STOP 1 notify", "CLOSE 1 wait"}},
    {"refused as shared, opened unshared", {"set"}, 1, 0, {true},
     {"OPEN 0 notify|element|shareable <set>", "OPEN 0 notify|element <set>", "GETDEVCAPS 1 wait|item",
      "SET 1 wait|time_format", "PLAY 1 notify|from"}},
    {"refused twice plays nothing", {"set"}, 0, 2, {false},
     {"OPEN 0 notify|element|shareable <set>", "OPEN 0 notify|element <set>"}},
    {"a refused event does not stop the next one", {"set", "set"}, 0, 2, {false, true},
     {"OPEN 0 notify|element|shareable <set>", "OPEN 0 notify|element <set>",
      "OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
      "PLAY 1 notify|from"}},
};

TEST_F(MediaPlayerTest, PlaySequenceSendsTheseCommands) {
  WithApplication();
  const std::string set = files_.Write("sound.wav", SilentWav());
  const std::string missing = files_.PathOf("gone.wav");
  for (const PlayCase& c : kPlayCases) {
    SCOPED_TRACE(c.name);
    FakeMci mci;
    mci.refuseShareable = c.refuseShareable;
    mci.refuseOpens = c.refuseOpens;
    std::vector<bool> opened;
    MCIDEVICEID openAtEnd = 0;
    {
      SoundPlayer sound;
      // Record what the port answers on the way.
      struct Spy final : ISoundPlayer {
        SoundPlayer& inner;
        std::vector<bool>& opened;
        Spy(SoundPlayer& s, std::vector<bool>& o) : inner(s), opened(o) {}
        void Stop() override { inner.Stop(); }
        void Close() override { inner.Close(); }
        bool SetFileName(const std::string& p) override {
          opened.push_back(inner.SetFileName(p));
          return opened.back();
        }
        void Play() override { inner.Play(); }
      } spy(sound, opened);
      for (const std::string& e : c.events) PlayEvent(spy, e == "set" ? set : e == "missing" ? missing : e);
      EXPECT_EQ(Describe(mci.sent, set), c.commands);
      EXPECT_EQ(opened, c.opened);
      // Every notifying command names the application window.
      for (const Sent& s : mci.sent) {
        if (s.flags & MCI_NOTIFY) {
          EXPECT_EQ(s.callback, reinterpret_cast<DWORD_PTR>(AppWindow())) << Describe(s, set);
        }
      }
      mci.sent.clear();
      openAtEnd = sound.Player().DeviceID;
    }
    // The port's player closes the device it still has when it goes.
    if (openAtEnd != 0) {
      EXPECT_EQ(Describe(mci.sent, set), (std::vector<std::string>{"CLOSE " + std::to_string(openAtEnd) + " wait"}));
    } else {
      EXPECT_TRUE(mci.sent.empty());
    }
  }
}

TEST_F(MediaPlayerTest, AFailedOpenLeavesNoDeviceAndSaysWhy) {
  WithApplication();
  const std::string set = files_.Write("sound.wav", SilentWav());
  struct Case {
    const char* name;
    std::string file;
    int refuseOpens;
    std::string text;  // empty: any MCI text, but some
    size_t opensSent;
  };
  const std::vector<Case> cases = {
      {"missing file", files_.PathOf("gone.wav"), 0, "Multimedia file does not exist", 0},
      {"a folder is no file", files_.Dir(), 0, "Multimedia file does not exist", 0},
      {"refused twice", set, 2, "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMci mci;
    mci.refuseOpens = c.refuseOpens;
    MediaPlayer player;
    EXPECT_FALSE(player.SetFileName(c.file));
    EXPECT_EQ(player.DeviceID, 0u);
    EXPECT_EQ(player.FileName, c.file);
    if (c.text.empty()) {
      EXPECT_FALSE(player.LastErrorText.empty());
    } else {
      EXPECT_EQ(player.LastErrorText, c.text);
    }
    EXPECT_EQ(mci.sent.size(), c.opensSent);
    // Nothing open: playing and stopping send nothing.
    player.Play();
    EXPECT_FALSE(player.Stop());
    EXPECT_EQ(mci.sent.size(), c.opensSent);
  }
}

// --- the send step ----------------------------------------------------------

TEST_F(MediaPlayerTest, WithoutADeviceNothingIsSent) {
  WithApplication();
  FakeMci mci;
  MediaPlayer player;
  struct Case {
    const char* name;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"Stop", [&] { EXPECT_FALSE(player.Stop()); }},
      {"Close", [&] { player.Close(); }},
      {"Play", [&] { player.Play(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    player.LastError = 0;
    c.call();
    EXPECT_EQ(player.LastError, MediaPlayer::kNotSent);
    EXPECT_EQ(static_cast<int32_t>(player.LastError), -1);
  }
  EXPECT_TRUE(mci.sent.empty());
}

TEST_F(MediaPlayerTest, NotifyFlagFollowsWaitAndTheApplicationWindow) {
  const std::string set = files_.Write("sound.wav", SilentWav());
  struct Case {
    const char* name;
    bool application;
    bool wait;
    std::vector<std::string> commands;
  };
  const std::vector<Case> cases = {
      {"no waiting, window", true, false,
       {"OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
        "PLAY 1 notify|from", "STOP 1 notify", "CLOSE 1 wait"}},
      {"waiting drops notify", true, true,
       {"OPEN 0 wait|element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format",
        "PLAY 1 wait|from", "STOP 1 wait", "CLOSE 1 wait"}},
      {"no application window yet drops notify", false, false,
       {"OPEN 0 element|shareable <set>", "GETDEVCAPS 1 wait|item", "SET 1 wait|time_format", "PLAY 1 from",
        "STOP 1 ", "CLOSE 1 wait"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WithoutApplication();
    if (c.application) WithApplication();
    FakeMci mci;
    MediaPlayer player;
    player.Wait = c.wait;
    ASSERT_TRUE(player.SetFileName(set));
    player.Play();
    EXPECT_TRUE(player.Stop());
    player.Close();
    EXPECT_EQ(player.DeviceID, 0u);
    EXPECT_EQ(Describe(mci.sent, set), c.commands);
  }
}

TEST_F(MediaPlayerTest, LastErrorIsTheResultOfTheLastCommand) {
  WithApplication();
  const std::string set = files_.Write("sound.wav", SilentWav());
  FakeMci mci;
  MediaPlayer player;
  ASSERT_TRUE(player.SetFileName(set));
  EXPECT_EQ(player.LastError, 0u);
  mci.closeResult = MCIERR_DEVICE_LOCKED;
  player.Close();
  EXPECT_EQ(player.LastError, static_cast<DWORD>(MCIERR_DEVICE_LOCKED));
  // MCI kept the device: it is still ours and is closed with the player.
  EXPECT_EQ(player.DeviceID, 1u);
  mci.closeResult = 0;
}

TEST_F(MediaPlayerTest, ADeviceMciNoLongerKnowsIsForgotten) {
  WithApplication();
  const std::string first = files_.Write("first.wav", SilentWav());
  const std::string second = files_.Write("second.wav", SilentWav());
  FakeMci mci;
  SoundPlayer sound;
  PlayEvent(sound, first);
  mci.closeResult = MCIERR_INVALID_DEVICE_ID;
  mci.sent.clear();
  PlayEvent(sound, second);
  // The next sound opens a device of its own instead of "playing" the lost one.
  EXPECT_EQ(Describe(mci.sent, second),
            (std::vector<std::string>{"STOP 1 notify", "CLOSE 1 wait", "OPEN 0 notify|element|shareable <set>",
                                      "GETDEVCAPS 2 wait|item", "SET 2 wait|time_format", "PLAY 2 notify|from"}));
  mci.closeResult = 0;
}

TEST_F(MediaPlayerTest, RussianFileNamesReachMciAsCp1251) {
  WithApplication();
  const std::string path = files_.Write("Ошибка.wav", SilentWav());
  FakeMci mci;
  MediaPlayer player;
  ASSERT_TRUE(player.SetFileName(path)) << player.LastErrorText;
  ASSERT_EQ(mci.sent.size(), 3u);
  EXPECT_EQ(mci.sent[0].element, path);
  EXPECT_NE(mci.sent[0].element.find("\xCE\xF8\xE8\xE1\xEA\xE0"), std::string::npos);
}

TEST_F(MediaPlayerTest, SettingTheSameNameKeepsTheDevice) {
  WithApplication();
  const std::string first = files_.Write("first.wav", SilentWav());
  const std::string second = files_.Write("second.wav", SilentWav());
  FakeMci mci;
  MediaPlayer player;
  ASSERT_TRUE(player.SetFileName(first));
  mci.sent.clear();
  EXPECT_TRUE(player.SetFileName(first));
  EXPECT_TRUE(mci.sent.empty());
  EXPECT_TRUE(player.SetFileName(second));
  EXPECT_EQ(Describe(mci.sent, second),
            (std::vector<std::string>{"CLOSE 1 wait", "OPEN 0 notify|element|shareable <set>",
                                      "GETDEVCAPS 2 wait|item", "SET 2 wait|time_format"}));
}

TEST_F(MediaPlayerTest, VideoDevicesReportTheirPicture) {
  WithApplication();
  const std::string movie = files_.Write("clip.avi", "not really a movie");
  const std::string other = files_.Write("clip2.avi", "not really a movie");
  FakeMci mci;
  mci.hasVideo = true;
  // The display window is kept once the device is open; the first open has none.
  MediaPlayer player(movie, AppWindow());
  EXPECT_EQ(player.Display, AppWindow());
  EXPECT_EQ(player.DisplaySize.right, 320);
  EXPECT_EQ(player.DisplaySize.bottom, 240);
  ASSERT_TRUE(player.SetFileName(other));
  EXPECT_EQ(Describe(mci.sent, movie),
            (std::vector<std::string>{"OPEN 0 notify|element|shareable <set>", "GETDEVCAPS 1 wait|item",
                                      "WHERE 1 wait|source", "SET 1 wait|time_format", "CLOSE 1 wait",
                                      "OPEN 0 notify|element|shareable " + other, "GETDEVCAPS 2 wait|item",
                                      "WINDOW 2 wait|hwnd", "WHERE 2 wait|source", "SET 2 wait|time_format"}));

  // No device opened: the display window is not taken.
  MediaPlayer none(files_.PathOf("gone.avi"), AppWindow());
  EXPECT_EQ(none.Display, nullptr);
}

// --- the program-wide list and notifications --------------------------------

TEST_F(MediaPlayerTest, TheListLivesFromTheFirstPlayerToTheLast) {
  WithApplication();
  const std::string set = files_.Write("sound.wav", SilentWav());
  FakeMci mci;
  EXPECT_EQ(MediaPlayer::Players(), nullptr);
  auto a = std::make_unique<MediaPlayer>(set);
  auto b = std::make_unique<MediaPlayer>();
  ASSERT_NE(MediaPlayer::Players(), nullptr);
  EXPECT_EQ(*MediaPlayer::Players(), (std::vector<MediaPlayer*>{a.get(), b.get()}));
  mci.sent.clear();

  a->OnNotify = [](MediaPlayer&, int) { ADD_FAILURE() << "a destroyed player was notified"; };
  a.reset();
  // Destroy closes the device, waiting.
  EXPECT_EQ(Describe(mci.sent, set), (std::vector<std::string>{"CLOSE 1 wait"}));
  EXPECT_EQ(*MediaPlayer::Players(), (std::vector<MediaPlayer*>{b.get()}));
  MediaPlayer::DispatchNotify(MCI_NOTIFY_SUCCESSFUL, 1);

  mci.sent.clear();
  b.reset();
  EXPECT_TRUE(mci.sent.empty());  // nothing was open
  EXPECT_EQ(MediaPlayer::Players(), nullptr);
  MediaPlayer::DispatchNotify(MCI_NOTIFY_SUCCESSFUL, 1);  // no list: nothing to find
}

TEST_F(MediaPlayerTest, NotificationsReachThePlayerOfTheDevice) {
  WithApplication();
  const std::string set = files_.Write("sound.wav", SilentWav());
  FakeMci mci;
  MediaPlayer first(set), second(set), idle;
  ASSERT_EQ(first.DeviceID, 1u);
  ASSERT_EQ(second.DeviceID, 2u);
  std::vector<std::string> heard;
  auto listen = [&heard](const char* who) {
    return [&heard, who](MediaPlayer&, int code) { heard.push_back(std::string(who) + " " + std::to_string(code)); };
  };
  first.OnNotify = listen("first");
  second.OnNotify = listen("second");
  idle.OnNotify = listen("idle");

  struct Case {
    WPARAM code;
    LPARAM device;
    std::vector<std::string> heard;
  };
  const std::vector<Case> cases = {
      {MCI_NOTIFY_SUCCESSFUL, 2, {"second 0"}},
      {MCI_NOTIFY_SUPERSEDED, 1, {"first 1"}},
      {MCI_NOTIFY_ABORTED, 2, {"second 3"}},
      {MCI_NOTIFY_FAILURE, 1, {"first 7"}},
      {MCI_NOTIFY_SUCCESSFUL, 9, {}},  // no such device
      {MCI_NOTIFY_SUCCESSFUL, 0, {}},  // a player without a device is nobody's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "code " << c.code << " device " << c.device);
    heard.clear();
    MediaPlayer::DispatchNotify(c.code, c.device);
    EXPECT_EQ(heard, c.heard);
  }

  // Through the window the program's own ports name, as MCI delivers them.
  {
    MediaPlayer::NotifyWindow = nullptr;
    TPlatform platform(*app_);
    ASSERT_EQ(MediaPlayer::NotifyWindow, app_->QueueHandle());
    heard.clear();
    PostMessageW(AppWindow(), MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 1);
    app_->ProcessMessages();
    EXPECT_EQ(heard, (std::vector<std::string>{"first 0"}));
  }

  // A handler may free its player.
  auto doomed = std::make_unique<MediaPlayer>(set);
  doomed->OnNotify = [&doomed](MediaPlayer&, int) { doomed.reset(); };
  MediaPlayer::DispatchNotify(MCI_NOTIFY_SUCCESSFUL, 3);
  EXPECT_FALSE(doomed);
  EXPECT_EQ(MediaPlayer::Players()->size(), 3u);
}

// --- the system's MCI ---------------------------------------------------------

// Counts dialog boxes created on this thread and keeps them from appearing,
// so a message box would neither block the test nor go unnoticed.
class DialogGuard {
 public:
  DialogGuard() {
    count_ = 0;
    hook_ = SetWindowsHookExW(WH_CBT, &DialogGuard::Hook, nullptr, GetCurrentThreadId());
  }
  ~DialogGuard() { UnhookWindowsHookEx(hook_); }
  DialogGuard(const DialogGuard&) = delete;
  DialogGuard& operator=(const DialogGuard&) = delete;
  int Count() const { return count_ + OtherThreadDialogs(); }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) {
      wchar_t cls[64] = {};
      GetClassNameW(reinterpret_cast<HWND>(wp), cls, 64);
      if (std::wstring(cls) == L"#32770") {
        ++count_;
        return 1;  // refuse the window
      }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  // Dialogs of this process on any other thread.
  static int OtherThreadDialogs() {
    int found = 0;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          wchar_t cls[64] = {};
          GetClassNameW(w, cls, 64);
          if (pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770" && IsWindowVisible(w))
            ++*reinterpret_cast<int*>(p);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }
  static inline int count_ = 0;
  HHOOK hook_ = nullptr;
};

TEST_F(MediaPlayerTest, TheSystemsMciNeverShowsAMessage) {
  WithApplication();
  app_->OnMciNotify = &MediaPlayer::DispatchNotify;
  struct Case {
    const char* name;
    std::string file;
  };
  const std::vector<Case> cases = {
      {"small wav", files_.Write("tone.wav", SilentWav())},
      {"small wav with a Russian name", files_.Write("Ошибка.wav", SilentWav())},
      {"not a sound at all", files_.Write("noise.ogg", std::string(2000, '\x5A'))},
      {"missing file", files_.PathOf("Сообщение.ogg")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DialogGuard guard;
    {
      SoundPlayer sound;
      PlayEvent(sound, c.file);
      MediaPlayer& player = sound.Player();
      if (player.DeviceID != 0) {
        EXPECT_TRUE(player.LastErrorText.empty());
        // Twice in a row, as the same event would.
        PlayEvent(sound, c.file);
      } else {
        EXPECT_FALSE(player.LastErrorText.empty());
      }
      app_->ProcessMessages();
      sound.Stop();
      sound.Close();
      EXPECT_EQ(player.DeviceID, 0u) << "close failed: " << player.LastError;
    }
    app_->ProcessMessages();
    EXPECT_EQ(guard.Count(), 0);
  }
}

}  // namespace
}  // namespace zelt
