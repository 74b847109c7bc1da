// The checker's life: construction from data.dat (or without it), saving,
// the registry values, the connection settings, sounds and destruction.
#include <string>
#include <vector>

#include "core/DataFile.h"
#include "core/FileIO.h"
#include "core/Settings.h"
#include "tests/unit/core_fakes.h"

namespace zelt::testing {
namespace {

using CheckerLife = CheckerTest;

TEST_F(CheckerLife, FreshInstallationGivesEveryDefault) {
  TChecker& c = Make();
  EXPECT_EQ(c.IntervalMs, 300000);
  EXPECT_EQ(c.TopicCount, 10);
  for (bool flag : {c.IgnoreOwnPosts, c.AutoStart, c.ShowOnNew, c.UseSounds, c.UseIESettings, c.UpdateAvailable,
                    c.UpdateNotified, c.HaveData, c.NeedForumList})
    EXPECT_FALSE(flag);
  for (const std::string* s : {&c.ProxyServer, &c.UserName, &c.Password, &c.Nick, &c.SoundNewMessages,
                               &c.SoundNewVersion, &c.SoundError, &c.LastReply, &c.SoundToPlay})
    EXPECT_EQ(*s, "");
  for (uint32_t v : {c.LastInBytes, c.LastInUnpacked, c.LastOutBytes, c.TotalInBytes, c.TotalInUnpacked,
                     c.TotalOutBytes, c.UpdateInBytes, c.UpdateOutBytes, c.UpdateTotalBytes, c.Reserved36})
    EXPECT_EQ(v, 0u);
  EXPECT_EQ(c.ProxyPort, 0);
  EXPECT_EQ(c.TrafficSince, clock.now);
  EXPECT_TRUE(c.Items.empty() && c.ReadMarks.Empty() && c.Favorites.Empty() && c.ForumNames.Empty());
  EXPECT_EQ(c.UnreadCount + c.PrevUnreadCount + c.MinutesSinceSave, 0);
  // The timer: five minutes, off until polling starts.
  EXPECT_EQ(timer->Interval(), 300000u);
  EXPECT_FALSE(timer->Enabled());
  EXPECT_EQ(c.Loader->UserAgent, "Zelt Rarazovo 0.4");
  EXPECT_EQ(c.Loader->ProxyServer, "");
  EXPECT_EQ(c.Loader->ProxyPort, 0);
  EXPECT_FALSE(c.Loader->UseSystemProxy);
  // Loading saves nothing; the install path is written once, the key created.
  EXPECT_FALSE(std::filesystem::exists(DataPath()));
  EXPECT_EQ(registry.log, std::vector<std::string>{"write SOFTWARE\\Zelt Rarazovo|Path|" + exePath + "|create"});
  EXPECT_EQ(Checker, &c);
  EXPECT_EQ(c.ProgramDir(), ProgramDir());
  EXPECT_EQ(c.ExePath(), exePath);
  c.StartPolling();
  EXPECT_TRUE(timer->Enabled());
  Settle();
}

TEST_F(CheckerLife, LoadsTheFileAndHandsTheProxyToTheLoader) {
  TDataImage image;
  image.TotalInBytes = 77;
  image.TrafficSince = 730120.5;
  image.IntervalMs = 60000;
  image.TopicCount = 0;  // becomes 10
  image.UseIESettings = true;
  image.ProxyPort = 8080;
  image.ProxyServer = "proxy.local";
  image.UserName = "user";
  image.Password = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  image.Nick = "Ivan";
  image.ReadMarks.SetText("link\x11" "3\r\n");
  ASSERT_TRUE(ReplaceFileBytes(DataPath().string(), SerializeDataImage(image)));
  TChecker& c = Make();
  EXPECT_EQ(c.TotalInBytes, 77u);
  EXPECT_EQ(c.TrafficSince, 730120.5);
  EXPECT_EQ(c.IntervalMs, 60000);
  EXPECT_EQ(timer->Interval(), 60000u);
  EXPECT_EQ(c.TopicCount, 10);
  EXPECT_EQ(c.Password, image.Password);  // plain in memory
  EXPECT_EQ(c.Nick, "Ivan");
  EXPECT_EQ(c.ReadMarks.Lines(), std::vector<std::string>{"link\x11" "3"});
  EXPECT_EQ(c.Loader->ProxyServer, "proxy.local");
  EXPECT_EQ(c.Loader->ProxyPort, 8080);
  EXPECT_TRUE(c.Loader->UseSystemProxy);
  // Through the system's settings: the transport is asked for the preconfigured access.
  http.Push({200, "0"});
  c.StartPolling();
  Settle();
  EXPECT_EQ(http.Requests().at(0).access, inet::kOpenTypePreconfig);
  EXPECT_EQ(http.Requests().at(0).headers, std::vector<std::string>{"Proxy-Connection: close"});
}

TEST_F(CheckerLife, ThroughAConfiguredProxy) {
  TDataImage image;
  image.ProxyPort = 3130;
  image.ProxyServer = "cache";
  ASSERT_TRUE(ReplaceFileBytes(DataPath().string(), SerializeDataImage(image)));
  TChecker& c = Make();
  c.StartPolling();
  Settle();
  EXPECT_EQ(http.Requests().at(0).access, inet::kOpenTypeProxy);
  EXPECT_EQ(http.Requests().at(0).proxy, "http=cache:3130");
}

TEST_F(CheckerLife, SaveWritesTheStateAndTheAutostartValue) {
  TChecker& c = Make();
  c.Password = "secret";
  c.Favorites.Add("fav");
  c.TotalOutBytes = 1234;
  c.AutoStart = true;
  registry.log.clear();
  c.SaveData();
  // Quoted: the path holds blanks, and an unquoted one would run "C:\\Program.exe".
  EXPECT_EQ(registry.log, std::vector<std::string>{"write Software\\Microsoft\\Windows\\CurrentVersion\\Run|"
                                                   "ZeltInformerA|\"" + exePath + "\""});
  EXPECT_EQ(c.Password, "secret");
  TDataImage onDisk;
  ASSERT_TRUE(ParseDataImage(DataFileBytes(), onDisk));
  EXPECT_EQ(onDisk.Password, "secret");
  EXPECT_EQ(onDisk.TotalOutBytes, 1234u);
  EXPECT_TRUE(onDisk.AutoStart);
  EXPECT_EQ(onDisk.Favorites.Lines(), std::vector<std::string>{"fav"});
  EXPECT_NE(DataFileBytes().find(ScramblePassword("secret")), std::string::npos);

  c.AutoStart = false;
  registry.log.clear();
  c.SaveData();
  EXPECT_EQ(registry.log,
            std::vector<std::string>{"delete Software\\Microsoft\\Windows\\CurrentVersion\\Run|ZeltInformerA"});
  EXPECT_EQ(registry.values.count({kRunKey, kRunValue}), 0u);

  // A missing Run key is never created, and nothing is reported.
  registry.keys.erase(kRunKey);
  c.AutoStart = true;
  c.SaveData();
  EXPECT_EQ(registry.keys.count(kRunKey), 0u);

  // A second checker reads back what the first saved.
  c.Nick = "Nick";
  c.SaveData();
  checker.reset();
  TChecker& again = Make();
  EXPECT_EQ(again.Nick, "Nick");
  EXPECT_EQ(again.Password, "secret");
  EXPECT_TRUE(again.AutoStart);
  EXPECT_EQ(again.TotalOutBytes, 1234u);
}

TEST_F(CheckerLife, AFailedSaveLeavesThePreviousFileWhole) {
  TChecker& c = Make();
  c.Nick = "first";
  c.SaveData();
  const std::string before = DataFileBytes();
  ASSERT_FALSE(before.empty());
  // The temporary file cannot be created: a folder stands in its place.
  std::filesystem::create_directory(dir / "data.dat.tmp");
  c.Nick = "second";
  c.SaveData();
  EXPECT_EQ(DataFileBytes(), before);
  std::filesystem::remove(dir / "data.dat.tmp");
  c.SaveData();
  TDataImage onDisk;
  ASSERT_TRUE(ParseDataImage(DataFileBytes(), onDisk));
  EXPECT_EQ(onDisk.Nick, "second");
  EXPECT_FALSE(std::filesystem::exists(dir / "data.dat.tmp"));
}

TEST_F(CheckerLife, DamagedFilesLoadWhatIsWhole) {
  TDataImage image;
  image.IntervalMs = 120000;
  image.Nick = "kept";
  image.Favorites.Add("f");
  std::string bytes = SerializeDataImage(image);
  const struct {
    std::string file;
    int32_t interval;
    std::string nick;
    size_t favorites;
  } cases[] = {
      {"", 300000, "", 0},
      {bytes.substr(0, 30), 300000, "", 0},
      {bytes.substr(0, 52), 120000, "", 0},
      {bytes.substr(0, bytes.size() - 20), 120000, "kept", 0},
      {bytes.substr(0, 64) + std::string("\xFF\xFF\xFF\x7F", 4), 120000, "", 0},
      {bytes, 120000, "kept", 1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.file.size());
    ASSERT_TRUE(ReplaceFileBytes(DataPath().string(), k.file));
    TChecker& c = Make();
    EXPECT_EQ(c.IntervalMs, k.interval);
    EXPECT_EQ(c.Nick, k.nick);
    EXPECT_EQ(c.Favorites.Count(), k.favorites);
    EXPECT_EQ(c.TopicCount, 10);
    checker.reset();
  }
}

TEST_F(CheckerLife, ResetsOfTrafficAndSettings) {
  TChecker& c = Make();
  c.TotalInBytes = 5;
  c.Reserved36 = 9;
  c.IntervalMs = 1;
  clock.now = 739000.25;
  c.ResetTraffic();
  EXPECT_EQ(c.TotalInBytes, 0u);
  EXPECT_EQ(c.Reserved36, 0u);
  EXPECT_EQ(c.TrafficSince, 739000.25);
  EXPECT_EQ(c.IntervalMs, 1);  // traffic only
  c.Nick = "n";
  c.Reserved61 = 3;
  c.ResetSettings();
  EXPECT_EQ(c.IntervalMs, 0);
  EXPECT_EQ(c.Nick, "");
  EXPECT_EQ(c.Reserved61, 0);
  EXPECT_EQ(c.TrafficSince, 0.0);
}

TEST_F(CheckerLife, SoundsFollowThePlaySequence) {
  TChecker& c = Make();
  c.SoundNewMessages = "C:\\s\\new.ogg";
  c.SoundNewVersion = "C:\\s\\version.wav";
  c.SoundError = "";
  sound.missing.insert("C:\\s\\version.wav");
  const struct {
    int32_t kind;
    std::string toPlay;
    std::vector<std::string> log;
  } cases[] = {
      {0, "C:\\s\\new.ogg", {"stop", "close", "open C:\\s\\new.ogg", "play"}},
      {0, "C:\\s\\new.ogg", {"stop", "close", "open C:\\s\\new.ogg", "play"}},  // twice: plays twice
      {1, "C:\\s\\version.wav", {"stop", "close", "open C:\\s\\version.wav"}},  // cannot open: silent
      {2, "", {"stop", "close"}},                                              // no sound for errors
      {7, "", {"stop", "close"}},
  };
  for (const auto& k : cases) {
    sound.log.clear();
    c.SelectSound(k.kind);
    EXPECT_EQ(c.SoundToPlay, k.toPlay) << k.kind;
    EXPECT_EQ(sound.log, k.log) << k.kind;
  }
  EXPECT_STREQ(kSoundEventNames[0], "Новые сообщения");
  EXPECT_STREQ(kSoundEventNames[1], "Выпущено обновление");
  EXPECT_STREQ(kSoundEventNames[2], "Ошибка");
}

TEST_F(CheckerLife, DestructionStopsEverything) {
  TChecker& c = Make();
  c.ParseReply("0" + Record("T", "t", "F", "1", "x"));
  c.StartPolling();
  Settle();
  sound.log.clear();
  checker.reset();
  EXPECT_EQ(sound.log, (std::vector<std::string>{"stop", "close"}));
  EXPECT_EQ(Checker, nullptr);
  // The timer went with the checker; nothing is left to tick.
}

}  // namespace
}  // namespace zelt::testing
