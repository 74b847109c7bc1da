// Event sounds through MediaPlayer: with MCI replaced by a small model of its
// devices, what is open and playing after each event.

#include <fstream>

#include "media/SoundPlayer.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

// MCI as a set of devices: opens (refused as the test says), plays, stops
// and closes, and where notifications go.
class FakeMci {
 public:
  // A player's link to this MCI, its notices going to `notify`.
  TMciLink Link(HWND notify) {
    return {[this](MCIDEVICEID id, UINT msg, DWORD_PTR flags, DWORD_PTR params) {
              return Handle(id, msg, static_cast<DWORD>(flags), params);
            },
            notify};
  }
  std::map<MCIDEVICEID, std::string> Open;  // device -> file
  MCIDEVICEID Playing = 0;
  HWND Notified = nullptr;            // the window a playing device reports to
  std::vector<std::string> Attempts;  // the files of every open asked for
  bool Unshareable = false;           // the device refuses every shared open
  int RefuseOpens = 0;
  MCIERROR CloseResult = 0;

 private:
  MCIERROR Handle(MCIDEVICEID id, UINT msg, DWORD flags, DWORD_PTR params) {
    switch (msg) {
      case MCI_OPEN: {
        auto* p = reinterpret_cast<MCI_OPEN_PARMSA*>(params);
        Attempts.push_back(p->lpstrElementName);
        if (RefuseOpens > 0) return --RefuseOpens, MCIERR_CANNOT_LOAD_DRIVER;
        if ((flags & MCI_OPEN_SHAREABLE) && Unshareable) return MCIERR_DEVICE_OPEN;
        p->wDeviceID = next_++;
        Open[p->wDeviceID] = p->lpstrElementName;
        return 0;
      }
      case MCI_PLAY:
        if (!Open.count(id) || !(flags & MCI_FROM) || reinterpret_cast<MCI_PLAY_PARMS*>(params)->dwFrom != 0)
          return MCIERR_INVALID_DEVICE_ID;
        Playing = id;
        Notified = flags & MCI_NOTIFY ? reinterpret_cast<HWND>(reinterpret_cast<MCI_PLAY_PARMS*>(params)->dwCallback)
                                      : nullptr;
        return 0;
      case MCI_STOP:
        if (Playing == id) Playing = 0;
        return 0;
      case MCI_CLOSE:
        if (CloseResult) return CloseResult;
        if (Playing == id) Playing = 0;
        return Open.erase(id) ? 0 : MCIERR_INVALID_DEVICE_ID;
      default:
        return 0;
    }
  }
  MCIDEVICEID next_ = 1;
};

// A checker whose sound port is the program's: TSoundPlayer over MCI, its
// notices to the application's queue window as the program's ports bind it.
class Media : public WinCheckerTest {
 protected:
  void SetUp() override {
    checker = std::make_unique<TChecker>(
        CheckerPorts{*app, http, NewTimer(), registry, port, clock, PathOf(dir.Path()), L"x.exe"});
  }
  std::string File(const std::string& name) {
    std::ofstream(dir / name, std::ios::binary) << "RIFF";  // the model of MCI does not read it
    return dir.Path() + name;
  }
  void Play(const std::string& file) {
    checker->SetSound(TSoundEvent::NewMessages, file);
    checker->SelectSound(TSoundEvent::NewMessages);
  }
  FakeMci mci;
  TSoundPlayer port{mci.Link(app->QueueHandle())};
};

TEST_F(Media, AnEventPlaysItsFileFromTheStartOnADeviceOfItsOwn) {
  const std::string a = File("a.wav");
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
      {"a device that cannot be shared", a, true, 0, {a, a}, true},
      {"no device takes it", a, false, 2, {a, a}, false},
      {"a missing file", dir.Path() + "gone.wav", false, 0, {}, false},
      {"no sound", "", false, 0, {}, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    mci.Attempts.clear();
    mci.Unshareable = k.unshareable;
    mci.RefuseOpens = k.refuseOpens;
    Play(k.file);
    EXPECT_EQ(mci.Attempts, k.attempts);
    EXPECT_EQ(mci.Open.size(), k.plays ? 1u : 0u) << "the sound before it is closed";
    ASSERT_EQ(mci.Playing != 0, k.plays);
    if (k.plays) {
      EXPECT_EQ(mci.Open[mci.Playing], k.file);
      EXPECT_EQ(mci.Notified, app->QueueHandle());
    }
  }
  EXPECT_EQ(port.Player().LastErrorText, MediaPlayer::kFileMissingText);
  checker.reset();
  EXPECT_TRUE(mci.Open.empty()) << "the end closes the device";
}

TEST_F(Media, ADeviceMciNoLongerKnowsIsForgottenOneItKeepsStaysOurs) {
  const std::string a = File("a.wav"), b = File("b.wav");
  Play(a);
  mci.CloseResult = MCIERR_INVALID_DEVICE_ID;
  Play(b);  // the next sound gets a device of its own
  EXPECT_EQ(mci.Open[mci.Playing], b);
  mci.CloseResult = MCIERR_DEVICE_LOCKED;
  MediaPlayer& player = port.Player();
  const MCIDEVICEID kept = player.DeviceID;
  player.Close();
  EXPECT_EQ(player.DeviceID, kept);
  mci.CloseResult = 0;
  EXPECT_TRUE(player.SetFileName(a)) << "a new name closes the device and opens another";
  EXPECT_EQ(mci.Open.count(kept), 0u);
}

}  // namespace
}  // namespace zelt::fake
