// Event sounds through MediaPlayer: with MCI replaced by a small model of its
// devices, what is open and playing after each event; and with the system's
// MCI, that no sound ever brings up a message.
#include <windows.h>

#include <fstream>

#include "app/Platform.h"
#include "media/SoundPlayer.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

// MCI as a set of devices: opens (refused as the test says), plays, stops
// and closes, and where notifications go.
class FakeMci {
 public:
  FakeMci() : saved_(MciSend) {
    MciSend = [this](MCIDEVICEID id, UINT msg, DWORD_PTR flags, DWORD_PTR params) {
      return Handle(id, msg, static_cast<DWORD>(flags), params);
    };
  }
  ~FakeMci() { MciSend = saved_; }
  std::map<MCIDEVICEID, std::string> open;  // device -> file
  MCIDEVICEID playing = 0;
  HWND notified = nullptr;             // the window a playing device reports to
  std::vector<std::string> attempts;  // the files of every open asked for
  bool unshareable = false;  // the device refuses every shared open
  int refuseOpens = 0;
  MCIERROR closeResult = 0;

 private:
  MCIERROR Handle(MCIDEVICEID id, UINT msg, DWORD flags, DWORD_PTR params) {
    switch (msg) {
      case MCI_OPEN: {
        auto* p = reinterpret_cast<MCI_OPEN_PARMSA*>(params);
        attempts.push_back(p->lpstrElementName);
        if (refuseOpens > 0) return --refuseOpens, MCIERR_CANNOT_LOAD_DRIVER;
        if ((flags & MCI_OPEN_SHAREABLE) && unshareable) return MCIERR_DEVICE_OPEN;
        p->wDeviceID = next_++;
        open[p->wDeviceID] = p->lpstrElementName;
        return 0;
      }
      case MCI_PLAY:
        if (!open.count(id) || !(flags & MCI_FROM) || reinterpret_cast<MCI_PLAY_PARMS*>(params)->dwFrom != 0)
          return MCIERR_INVALID_DEVICE_ID;
        playing = id;
        notified = flags & MCI_NOTIFY ? reinterpret_cast<HWND>(reinterpret_cast<MCI_PLAY_PARMS*>(params)->dwCallback)
                                      : nullptr;
        return 0;
      case MCI_STOP:
        if (playing == id) playing = 0;
        return 0;
      case MCI_CLOSE:
        if (closeResult) return closeResult;
        if (playing == id) playing = 0;
        return open.erase(id) ? 0 : MCIERR_INVALID_DEVICE_ID;
      default:
        return 0;
    }
  }
  MciSendFunction saved_;
  MCIDEVICEID next_ = 1;
};

// A short silent PCM WAV: 8 kHz, 8 bit, mono, a tenth of a second.
std::string SilentWav() {
  std::string w = "RIFF";
  auto u32 = [&](uint32_t v) { w.append(reinterpret_cast<const char*>(&v), 4); };
  u32(36 + 800);
  w += "WAVEfmt ";
  for (uint32_t v : {16u, 0x10001u, 8000u, 8000u, 0x80001u}) u32(v);
  w += "data";
  u32(800);
  return w + std::string(800, '\x80');
}

// A checker whose sound port is the program's: SoundPlayer over MCI.
class Media : public WinCheckerTest {
 protected:
  void SetUp() override {
    MediaPlayer::NotifyWindow = app->QueueHandle();  // as the program's ports bind it
    c = std::make_unique<TChecker>(CheckerPorts{*app, http, NewTimer(), registry, port, clock, dir.Path(), "x.exe"});
  }
  void TearDown() override {
    c.reset();
    MediaPlayer::NotifyWindow = nullptr;
    WinCheckerTest::TearDown();
  }
  std::string File(const std::string& name) {
    std::ofstream(dir / name, std::ios::binary) << SilentWav();
    return dir.Path() + name;
  }
  void Play(const std::string& file) {
    c->SetSound(TSoundEvent::NewMessages, file);
    c->SelectSound(TSoundEvent::NewMessages);
  }
  FakeMci mci;
  SoundPlayer port;
  std::unique_ptr<TChecker> c;
};

TEST_F(Media, AnEventPlaysItsFileFromTheStartOnADeviceOfItsOwn) {
  const std::string a = File("a.wav"), b = File("Ошибка.wav");
  const struct {
    const char* name;
    std::string file;
    bool unshareable;
    int refuseOpens;
    std::vector<std::string> attempts;
    bool plays;
  } cases[] = {
      {"a file", a, false, 0, {a}, true},
      {"the same file again", a, false, 0, {a}, true},
      {"a Russian name reaches MCI in cp1251", b, false, 0, {b}, true},
      {"a device that cannot be shared", a, true, 0, {a, a}, true},
      {"no device takes it", a, false, 2, {a, a}, false},
      {"a missing file", dir.Path() + "gone.wav", false, 0, {}, false},
      {"a folder", dir.Path(), false, 0, {}, false},
      {"no sound", "", false, 0, {}, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    mci.attempts.clear();
    mci.unshareable = k.unshareable;
    mci.refuseOpens = k.refuseOpens;
    Play(k.file);
    EXPECT_EQ(mci.attempts, k.attempts);
    EXPECT_EQ(mci.open.size(), k.plays ? 1u : 0u) << "the sound before it is closed";
    ASSERT_EQ(mci.playing != 0, k.plays);
    if (k.plays) {
      EXPECT_EQ(mci.open[mci.playing], k.file);
      EXPECT_EQ(mci.notified, app->QueueHandle());
    }
  }
  EXPECT_EQ(port.Player().LastErrorText, MediaPlayer::kFileMissingText);
  c.reset();
  EXPECT_TRUE(mci.open.empty()) << "the end closes the device";
}

TEST_F(Media, ADeviceMciNoLongerKnowsIsForgottenOneItKeepsStaysOurs) {
  const std::string a = File("a.wav"), b = File("b.wav");
  Play(a);
  mci.closeResult = MCIERR_INVALID_DEVICE_ID;
  Play(b);  // the next sound gets a device of its own
  EXPECT_EQ(mci.open[mci.playing], b);
  mci.closeResult = MCIERR_DEVICE_LOCKED;
  MediaPlayer& player = port.Player();
  const MCIDEVICEID kept = player.DeviceID;
  player.Close();
  EXPECT_EQ(player.DeviceID, kept);
  mci.closeResult = 0;
  EXPECT_TRUE(player.SetFileName(a)) << "a new name closes the device and opens another";
  EXPECT_EQ(mci.open.count(kept), 0u);
  const size_t tries = mci.attempts.size();
  EXPECT_TRUE(player.SetFileName(a));
  EXPECT_EQ(mci.attempts.size(), tries) << "the same name keeps its device";
}

// Counts dialog boxes made on this thread and keeps them from appearing.
int g_dialogs = 0;
LRESULT CALLBACK NoDialogs(int code, WPARAM wp, LPARAM lp) {
  wchar_t cls[16] = {};
  if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wp), cls, 16) && !wcscmp(cls, L"#32770"))
    return ++g_dialogs, 1;
  return CallNextHookEx(nullptr, code, wp, lp);
}

TEST(MediaSystem, TheSystemsMciNeverShowsAMessageAndTakesRussianNames) {
  TApplication app("media");
  TPlatform platform(app);  // MCI's notices to the application, as in the program
  TempDir dir;
  for (const char* name : {"tone.wav", "Ошибка.wav", "noise.ogg"})
    std::ofstream(dir / name, std::ios::binary) << (name[0] == 'n' ? std::string(2000, 'Z') : SilentWav());
  const HHOOK hook = SetWindowsHookExW(WH_CBT, NoDialogs, nullptr, GetCurrentThreadId());
  std::vector<std::string> outcome;
  for (const char* name : {"tone.wav", "Ошибка.wav", "noise.ogg", "Сообщение.ogg"}) {
    SoundPlayer sound;
    for (int twice = 0; twice < 2; ++twice) {
      sound.Stop();
      sound.Close();
      if (sound.SetFileName(dir.Path() + name)) sound.Play();
    }
    app.ProcessMessages();
    outcome.push_back(sound.Player().DeviceID ? "open" : sound.Player().LastErrorText);
    sound.Close();
    EXPECT_EQ(sound.Player().DeviceID, 0u) << name;
  }
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(g_dialogs, 0);
  EXPECT_EQ(outcome[1], outcome[0]) << "a Russian name fares as a Latin one";
  EXPECT_EQ(outcome[3], MediaPlayer::kFileMissingText);
}

}  // namespace
}  // namespace zelt::fake
