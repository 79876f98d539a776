#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include <QCoreApplication>

#include "app/Startup.h"
#include "device/CdAudioDevice.h"
#include "device/Tmsf.h"
#include "playback/AudioReader.h"
#include "playback/CdioDriver.h"
#include "playback/DriveIo.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using namespace testsupport;
using Status = DriveIo::Status;

namespace {

constexpr std::uint8_t kNotReady = 0, kStopped = 1, kPlaying = 2, kOpen = 6;

// Playback, even on the silent clock, runs on a Qt thread with an event loop.
struct QtApp {
  int argc = 1;
  char* argv[2] = {const_cast<char*>("unit_tests"), nullptr};
  QCoreApplication app{argc, argv};
};

// An open() that waits for a FIFO's writer would hang: the alarm ends the process instead.
struct NoBlocking {
  NoBlocking() { ::alarm(30); }
  ~NoBlocking() { ::alarm(0); }
};

void WriteAudio(const std::string& path, int format, int rate, int channels) {
  SF_INFO info{0, rate, channels, format, 0, 0};
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const std::vector<short> silence(44100 * static_cast<std::size_t>(channels));
  sf_writef_short(file, silence.data(), 44100);
  sf_close(file);
}

bool Shows(CdAudioDevice& player, std::uint8_t mode) {
  return WaitFor([&] { return player.Device_Mode() == mode; }, 5s);
}

std::string OpenError(const std::string& device) try {
  CdAudioDevice(std::make_unique<CdioDriver>(device)).Device_Open();
  return {};
} catch (const EMCIDeviceError& e) {
  return e.what();
}

class FakeDrive : public DriveIo {
 public:
  Status status() override {
    for (const auto end = std::chrono::steady_clock::now() + hang.load();
         hang.load() > 0ms && std::chrono::steady_clock::now() < end;)
      stuck = true, std::this_thread::sleep_for(5ms);
    stuck = false;
    std::lock_guard lock(mutex_);
    return ++looks, state_;
  }
  std::optional<DiscToc> readToc() override {
    std::lock_guard lock(mutex_);
    return toc_;
  }
  bool readAudio(std::int32_t lsn, int count, std::byte* out) override {
    ++reads;
    for (int i = 0; i < count; ++i) {
      if (bad.count(lsn + i)) return false;
      std::memset(out + static_cast<std::ptrdiff_t>(i) * kBytesPerSector, 0x11 + (lsn + i) % 64,
                  kBytesPerSector);
    }
    return true;
  }
  int maxSectorsPerRead() const override { return 25; }
  bool eject() override { return true; }
  bool closeTray() override { return true; }
  bool canEject() const override { return true; }

  void set(Status state, std::optional<DiscToc> toc = std::nullopt) {
    std::lock_guard lock(mutex_);
    state_ = state, toc_ = std::move(toc);
  }
  // Two more status calls may still belong to looks begun before the call.
  bool seen() {
    const int from = looks;
    return WaitFor([&] { return looks >= from + 3; }, 5s);
  }

  std::atomic<std::chrono::milliseconds> hang{0ms};  // of each status call
  std::set<std::int32_t> bad;
  std::atomic<int> reads{0}, looks{0};
  std::atomic<bool> stuck{false};

 private:
  std::mutex mutex_;
  Status state_ = Status::NoDisc;
  std::optional<DiscToc> toc_;
};

const DiscToc kThreeTracks({{0, true}, {750, true}, {1500, true}}, 2250);

// Each test process locks a fake drive of its own: ctest runs them side by side.
struct FakePlayer {
  explicit FakePlayer(std::chrono::milliseconds hang = 0ms, std::function<void()> duringPlay = {},
                      const std::string& image = {}) {
    auto fake = image.empty() ? std::make_unique<FakeDrive>() : nullptr;
    if ((drive = fake.get())) drive->set(Status::DiscOk, kThreeTracks), drive->hang = hang;
    auto driver = std::make_unique<CdioDriver>(
        image.empty() ? "fake-drive-" + std::to_string(::getpid()) : image, std::move(fake),
        CdioDriver::Options{false, 10, std::move(duringPlay)});
    cdio = driver.get();
    (player = std::make_unique<CdAudioDevice>(std::move(driver)))->Device_Open();
    player->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  }
  ~FakePlayer() {
    if (player && drive) drive->hang = 0ms;  // a drive still hanging would hold up the close
  }
  bool plays() {
    return WaitFor([&] { return cdio->positionFrames() > 0; }, 5s);
  }
  FakeDrive* drive;
  CdioDriver* cdio;
  std::unique_ptr<CdAudioDevice> player;
};

std::string BigEndian(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i) & 0xFF);
  return out;
}

TEST(CdioDriver, OpenFailuresNameThePathAndTheReasonAndNrgImagesThatLieAreRefused) {
  const NoBlocking noBlocking;
  TempDir dir;
  std::ofstream(dir.file("notes.txt")) << "not a disc\n";
  std::ofstream(dir.file("noise.wav")) << "RIFF and nothing more";
  std::ofstream(dir.file("huge.cue")) << std::string((1 << 20) + 1, ' ');
  WriteAudio(dir.file("48k.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2);
  WriteAudio(dir.file("mono.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1);
  WriteAudio(dir.file("24.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 2);
  ASSERT_EQ(::mkfifo(dir.file("pipe.bin").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.cue").c_str(), 0600), 0);
  // TOC files name their data files from their own folder, not the program's current one.
  for (const char* name : {"pipe", "disc"})
    std::ofstream(dir.file(std::string(name) + ".toc"))
        << "CD_DA\nTRACK AUDIO\nFILE \"" << name << ".bin\" 0 00:04:00\n";
  const std::string cue = WriteToneImage(dir.path(), "disc", {{4}, {4}}),
                    alias = dir.file("alias.cue");
  std::filesystem::create_symlink(cue, alias);
  auto first = std::make_unique<CdAudioDevice>(std::make_unique<CdioDriver>(cue));
  first->Device_Open();
  int sheets = 0;
  auto sheet = [&](const std::string& fileLine) {
    const std::string path = dir.file("album" + std::to_string(++sheets) + ".cue");
    std::ofstream(path) << "FILE " << fileLine << "\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    return path;
  };
  const std::string kNotCdAudio = ": not CD audio (44.1 kHz, 16-bit, stereo): ";
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {dir.file("nothing.cue"), {dir.file("nothing.cue"), "No such file"}},
      {dir.file("notes.txt"), {dir.file("notes.txt"), "not a CD image"}},
      {dir.path(), {"neither a CD drive nor a CD image"}},
      {"/dev/null", {"/dev/null: not a CD drive"}},
      {alias, {alias, "in use"}},
      {dir.file("pipe.bin"), {dir.file("pipe.bin")}},  // given as the image itself
      {dir.file("fifo.cue"), {dir.file("fifo.cue")}},
      {dir.file("huge.cue"), {"too large for a CUE sheet"}},
      {sheet("\"Album Name.bin\" BINARY"),
       {"album1.cue: its data file ", "Album Name.bin: No such"}},
      {sheet("pipe.bin BINARY"), {"album2.cue: its data file ", "pipe.bin: not a regular file"}},
      {sheet("/dev/zero BINARY"), {"album3.cue: its data file ", "/dev/zero: not a regular file"}},
      {dir.file("pipe.toc"), {"its data file ", "pipe.bin: not a regular file"}},
      {sheet("48k.wav WAVE"), {"48k.wav" + kNotCdAudio + "it is sampled at 48000"}},
      {sheet("mono.wav WAVE"), {"mono.wav" + kNotCdAudio + "it has 1 channel"}},
      {sheet("24.flac WAVE"), {"24.flac" + kNotCdAudio + "its samples are Signed 24"}},
      {sheet("noise.wav WAVE"), {"noise.wav: not audio that can be decoded"}}};
  for (const auto& [path, parts] : cases) {
    const std::string text = OpenError(path);
    for (const std::string& part : parts) EXPECT_NE(text.find(part), std::string::npos) << text;
  }
  first.reset();
  EXPECT_EQ(OpenError(alias), "");
  EXPECT_EQ(OpenError(dir.file("disc.toc")), "");
  // A sheet whose one FILE names nothing there plays the BIN named after it, as such images did
  // before sheets were read; also under a name in Shift-JIS (テスト).
  const std::string sjis = dir.file("\x83\x65\x83\x58\x83\x67");
  std::filesystem::copy_file(dir.file("disc.bin"), sjis + ".bin");
  std::ofstream(sjis + ".cue") << "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
  EXPECT_EQ(OpenError(sjis + ".cue"), "");
  // libcdio's NRG reader believes every length and offset in the file, and is asked about any file
  // that is not a CUE sheet: a lying chunk list is refused before it runs.
  const std::uint64_t list = 300 * kBytesPerSector;
  auto nrg = [&](const std::string& name, const std::string& chunks, std::uint64_t footer = 0) {
    std::ofstream(dir.file(name), std::ios::binary)
        << std::string(list, '\0') << chunks << "NER5" << BigEndian(footer ? footer : list, 8);
    return dir.file(name);
  };
  const std::string end = "END!" + std::string(4, '\0');
  const std::string hugeCuex = "CUEX" + BigEndian(0x7FFFFFFF, 4) + std::string(16, '\0') + end;
  for (const std::string& path :
       {nrg("crafted.nrg", hugeCuex), nrg("innocent.toc", hugeCuex), nrg("song.mp3", hugeCuex),
        nrg("daox.nrg", "DAOX" + BigEndian(0xFFFFFFF0, 4) + std::string(16, '\0') + end),
        nrg("far.nrg", hugeCuex, 0xFFFFFFFFFFFF),
        nrg("endless.nrg", "SINF" + BigEndian(4, 4) + BigEndian(1, 4))}) {
    const std::string text = OpenError(path);
    EXPECT_NE(text.find(path + ": not a CD image (a damaged NRG image: "), std::string::npos)
        << text;
  }

  std::string cuex;  // the lead-in, the track's two indices, the leadout
  for (const auto& [track, index, lsn] : {std::tuple{0, 0, -150}, std::tuple{1, 0, -150},
                                          std::tuple{1, 1, 0}, std::tuple{0xAA, 1, 300}})
    cuex += std::string{char(1), char(track), char(index), '\0'} + BigEndian(std::uint32_t(lsn), 4);
  std::string dao = std::string{char(64), 0, 0, 0} + std::string(18, '\0');
  dao[20] = 1, dao[21] = 1;  // first and last track
  dao += std::string(12, '\0') + BigEndian(kBytesPerSector, 2) + char(7) + std::string(3, '\0') +
         std::string(16, '\0') + BigEndian(300 * kBytesPerSector, 8);
  CdAudioDevice player(std::make_unique<CdioDriver>(nrg(
      "sound.nrg",
      "CUEX" + BigEndian(cuex.size(), 4) + cuex + "DAOX" + BigEndian(dao.size(), 4) + dao + end)));
  ASSERT_NO_THROW(player.Device_Open());
  EXPECT_TRUE(Shows(player, kStopped));
  EXPECT_EQ(player.Device_Tracks(), 1u);
}

// An image replaced by something not a file is a disc taken out (the playback tests delete one).
TEST(CdioDriver, AnImageHasAVirtualTray) {
  const NoBlocking noBlocking;
  QtApp qt;
  TempDir dir;
  const std::string fifo = dir.file("fifo.cue");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FakePlayer f(0ms, {}, WriteToneImage(dir.path(), "first", {{4}, {4}}));
  CdAudioDevice& player = *f.player;
  EXPECT_TRUE(player.Can_Eject());
  EXPECT_EQ(player.Device_Mode(), kStopped);  // an image is ready at once
  player.Device_Eject();
  std::string error;  // a refusal with the tray closed: the desktop tests
  for (const std::string& path : {dir.file("nothing.cue"), fifo}) {
    EXPECT_FALSE(f.cdio->insertImage(path, &error));
    EXPECT_NE(error.find(path + ": "), std::string::npos) << error;
    EXPECT_EQ(player.Device_Mode(), kOpen);
  }

  const std::string cue = WriteToneImage(dir.path(), "second", {{3}, {3}, {3}, {3}});
  ASSERT_TRUE(f.cdio->insertImage(cue, &error)) << error;
  EXPECT_EQ(player.Device_Position(), tmsf::TrackStart(1));
  EXPECT_EQ(player.Device_Tracks(), 4u);  // at once, and after the monitor's next looks
  EXPECT_FALSE(WaitFor(
      [&] { return player.Device_Mode() != kStopped || player.Device_Tracks() != 4u; }, 300ms));
  player.Device_Play();
  ASSERT_TRUE(f.plays());
  EXPECT_EQ(player.Device_Mode(), kPlaying);

  std::filesystem::remove(cue);
  ASSERT_EQ(::mkfifo(cue.c_str(), 0600), 0);
  ASSERT_TRUE(Shows(player, kOpen));
  EXPECT_TRUE(WaitFor([&] { return !f.cdio->isPlaying(); }, 1s));
  std::filesystem::remove(cue);
  WriteToneImage(dir.path(), "second", {{3}, {3}, {3}});
  ASSERT_TRUE(Shows(player, kStopped));
  EXPECT_EQ(player.Device_Tracks(), 3u);
  EXPECT_EQ(player.Device_Position(), tmsf::TrackStart(1));
}

// A disc taken out while a play command runs, just after it took the table of contents, must
// not be read from the open drive nor played on the next disc.
TEST(CdioDriver, StatusIsTheLastLookAndADiscChangedDuringPlayIsNotPlayedOn) {
  QtApp qt;
  bool swap = false;
  FakePlayer f(3s, [&] {
    if (!std::exchange(swap, false)) return;
    f.drive->set(Status::TrayOpen);
    EXPECT_TRUE(Shows(*f.player, kOpen));  // the monitor then waits for this command to end
  });
  auto answersAtOnce = [&](std::uint8_t mode) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) f.player->Device_Mode(), f.player->Device_Position();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(f.player->Device_Mode(), mode);
  };
  answersAtOnce(kNotReady);
  f.drive->hang = 0ms;
  const DiscToc leadoutFirst({{0, true}, {900, true}}, 600);  // other nonsense: DiscToc tests
  // Each step changes what shows, so that the monitor has seen it before the next.
  const std::tuple<Status, std::optional<DiscToc>, std::uint8_t, std::uint32_t> steps[] = {
      {Status::DiscOk, kThreeTracks, kStopped, 3},
      {Status::NotReady, {}, kNotReady, 0},
      {Status::TrayOpen, {}, kOpen, 0},
      {Status::DiscOk, leadoutFirst, kNotReady, 0},
      {Status::DiscOk, kThreeTracks, kStopped, 3}};
  for (const auto& [status, toc, mode, tracks] : steps) {
    f.drive->set(status, toc);
    ASSERT_TRUE(Shows(*f.player, mode)) << int(mode);
    EXPECT_EQ(f.player->Device_Tracks(), tracks) << int(mode);
  }
  f.drive->hang = 3s;
  ASSERT_TRUE(WaitFor([&] { return f.drive->stuck.load(); }, 5s));
  answersAtOnce(kStopped);
  EXPECT_EQ(f.player->Device_Tracks(), 3u);
  f.drive->hang = 0ms;

  swap = true;
  f.player->Device_Play();
  ASSERT_TRUE(f.drive->seen());
  EXPECT_FALSE(f.cdio->isPlaying()) << "playing the old disc on an open tray";
  EXPECT_EQ(f.player->Device_Mode(), kOpen);
  EXPECT_EQ(f.drive->reads.load(), 0) << "the old disc's sectors were read from the open drive";
  f.drive->set(Status::DiscOk, DiscToc({{0, true}, {300, true}, {600, true}, {900, true}}, 1200));
  ASSERT_TRUE(Shows(*f.player, kStopped));
  EXPECT_EQ(f.player->Device_Tracks(), 4u);
  EXPECT_EQ(f.player->Device_Position(), tmsf::TrackStart(1));
  EXPECT_FALSE(f.cdio->isPlaying());
  f.player->Device_Play();  // and an ordinary play still plays
  EXPECT_TRUE(f.plays());
  EXPECT_EQ(f.player->Device_Mode(), kPlaying);
}

int PlayerThreads() {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    n += name == "cd monitor" || name == "cd reader" || name == "audio output";
  }
  return n;
}

TEST(CdioDriverThreads, ClosingJoinsTheThreadsOrLeavesAHungOneBehind) {
  QtApp qt;
  for (const auto hang : {0ms, 7000ms}) {
    SCOPED_TRACE(hang.count());
    FakePlayer f;
    ASSERT_TRUE(Shows(*f.player, kStopped));
    f.player->Device_Play();
    ASSERT_TRUE(f.plays());
    EXPECT_EQ(PlayerThreads(), 3);
    f.drive->hang = hang;
    ASSERT_TRUE(hang == 0ms || WaitFor([&] { return f.drive->stuck.load(); }, 5s));
    const auto start = std::chrono::steady_clock::now();
    f.player.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6500ms);
    // Qt's thread ends its last moments after wait() has returned.
    EXPECT_TRUE(WaitFor([&] { return PlayerThreads() == (hang > 0ms ? 1 : 0); }, 1s));
    EXPECT_TRUE(WaitFor([] { return PlayerThreads() == 0; }, 5s)) << "a thread outlived its player";
  }
}

TEST(AudioReader, BadSectorsBecomeSilenceAndPlayingSkipsDataTracks) {
  FakeDrive drive;
  drive.bad = {7, 20};
  std::vector<std::byte> out(25 * kBytesPerSector);
  ASSERT_TRUE(AudioReader::ReadResilient(drive, 0, 25, out.data(), [] { return true; }));
  for (int s = 0; s < 25; ++s) {
    const auto expected = drive.bad.count(s) ? std::byte{0} : std::byte(0x11 + s % 64);
    EXPECT_EQ(out[static_cast<std::size_t>(s) * kBytesPerSector], expected) << "sector " << s;
    EXPECT_EQ(out[static_cast<std::size_t>(s + 1) * kBytesPerSector - 1], expected);
  }
  EXPECT_LT(drive.reads.load(), 25);
  int asked = 0;
  EXPECT_FALSE(AudioReader::ReadResilient(drive, 0, 25, out.data(), [&] { return ++asked < 2; }));

  const DiscToc disc({{0, false}, {100, true}, {200, true}, {300, false}, {400, true}}, 500);
  EXPECT_EQ(AudioSpans(disc, 250), (std::vector<PlaySpan>{{250, 300}, {400, 500}}));
  EXPECT_EQ(AudioSpans(disc, 320), (std::vector<PlaySpan>{{400, 500}}));
  EXPECT_TRUE(AudioSpans(DiscToc({{0, true}, {100, false}}, 200), 150).empty());
  const std::vector<PlaySpan> spans{{100, 300}, {400, 500}};
  EXPECT_EQ(SectorAfter(spans, 199), 299);
  EXPECT_EQ(SectorAfter(spans, 200), 400);  // straight over the data track
  EXPECT_EQ(SectorAfter(spans, 1000), 500);
}

// The parser's value is what QCoreApplication decoded from the locale's encoding; the path given
// to the device must stay the bytes of the command line, here テスト in Shift-JIS.
TEST(CommandLine, NamesTheDriveOrImageByTheBytesGiven) {
  const std::string sjis = "/tmp/\x83\x65\x83\x58\x83\x67.cue";
  const std::pair<std::vector<const char*>, std::string> named[] = {
      {{"zarncd", "cdda://sr0"}, "/dev/sr0"},
      {{"zarncd", "-platform", "offscreen", "cdda:///dev/sr1"}, "/dev/sr1"},
      {{"zarncd", "--device=file:///a%20b/\xe9.cue"}, "/a b/\xe9.cue"},
      {{"zarncd", "--", "-odd.cue"}, "-odd.cue"},
      {{"zarncd", sjis.c_str()}, sjis},
      {{"zarncd"}, ""}};
  for (auto [args, device] : named) {
    const Command_Line line = Parse_Command_Line(static_cast<int>(args.size()), args.data());
    EXPECT_EQ(line.action, Command_Line::Action::Run) << line.error;
    EXPECT_EQ(line.device, device);
  }
}

}  // namespace
