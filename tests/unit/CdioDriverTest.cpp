// The libcdio driver without sound: opening and its failures, the in-use lock, the virtual
// tray of images, a drive that hangs or goes away (a fake behind the drive layer), and the
// reading of audio around bad sectors and data tracks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "device/AudioReader.h"
#include "device/CdAudioDevice.h"
#include "device/CdioDriver.h"
#include "device/DriveIo.h"
#include "device/PcmRing.h"
#include "device/Tmsf.h"

using namespace std::chrono_literals;

namespace {

constexpr std::uint8_t kNotReady = 0, kStopped = 1, kOpen = 6;

struct Dir {
  std::filesystem::path path;
  Dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarncd-unit-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~Dir() { std::filesystem::remove_all(path); }
  std::string file(const std::string& name) const { return (path / name).string(); }
};

// A silent CUE/BIN image with tracks of the given lengths in sectors.
std::string writeImage(const Dir& dir, const std::string& name, std::vector<int> sectors) {
  std::ofstream cue(dir.file(name + ".cue"));
  std::ofstream bin(dir.file(name + ".bin"), std::ios::binary);
  cue << "FILE \"" << name << ".bin\" BINARY\n";
  int at = 0;
  for (std::size_t t = 0; t < sectors.size(); ++t) {
    char line[96];
    std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n    INDEX 01 %02d:%02d:%02d\n", t + 1,
                  at / 4500, at / 75 % 60, at % 75);
    cue << line;
    bin << std::string(static_cast<std::size_t>(sectors[t]) * kBytesPerSector, '\0');
    at += sectors[t];
  }
  return dir.file(name + ".cue");
}

std::string openError(const std::string& device) {
  CdAudioDevice player(std::make_unique<CdioDriver>(device));
  try {
    player.Device_Open();
  } catch (const EMCIDeviceError& e) {
    return e.what();
  }
  return {};
}

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds deadline = 5s) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A drive whose answers the test sets; its status call can be made to hang.
class FakeDrive : public DriveIo {
 public:
  Status status() override {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, hang_, [&] { return hang_ == 0ms; });
    return state_;
  }
  std::optional<DiscToc> readToc() override {
    std::lock_guard lock(mutex_);
    return toc_;
  }
  bool readAudio(std::int32_t lsn, int count, std::byte* out) override {
    std::lock_guard lock(mutex_);
    ++reads_;
    for (int i = 0; i < count; ++i) {
      if (bad_.count(lsn + i)) return false;
      std::memset(out + static_cast<std::ptrdiff_t>(i) * kBytesPerSector, 0x11 + (lsn + i) % 64,
                  kBytesPerSector);
    }
    return true;
  }
  int maxSectorsPerRead() const override { return 25; }
  bool eject() override { return true; }
  bool closeTray() override { return true; }
  bool canEject() const override { return true; }

  void set(Status state, std::optional<DiscToc> toc) {
    std::lock_guard lock(mutex_);
    state_ = state;
    toc_ = std::move(toc);
  }
  void hang(std::chrono::milliseconds howLong) {
    std::lock_guard lock(mutex_);
    hang_ = howLong;
    released_.notify_all();
  }
  void breakSector(std::int32_t lsn) { bad_.insert(lsn); }
  int reads() const { return reads_; }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::chrono::milliseconds hang_{0};
  Status state_ = Status::NoDisc;
  std::optional<DiscToc> toc_;
  std::set<std::int32_t> bad_;
  int reads_ = 0;
};

DiscToc threeTracks() {
  return DiscToc({{0, true}, {750, true}, {1500, true}}, 2250);
}

struct FakeSetup {
  FakeDrive* drive;
  std::unique_ptr<CdAudioDevice> player;
};

FakeSetup openFake(const std::string& name) {
  auto fake = std::make_unique<FakeDrive>();
  FakeDrive* drive = fake.get();
  CdioDriver::Options options;
  options.useSoundServer = false;
  options.pollIntervalMs = 10;
  auto player =
      std::make_unique<CdAudioDevice>(std::make_unique<CdioDriver>(name, std::move(fake), options));
  return {drive, std::move(player)};
}

TEST(CdioDriver, OpenFailuresNameThePathAndTheReason) {
  Dir dir;
  const std::string missing = dir.file("nothing.cue");
  std::string text = openError(missing);
  EXPECT_NE(text.find(missing), std::string::npos) << text;
  EXPECT_NE(text.find("No such file"), std::string::npos) << text;

  const std::string notes = dir.file("notes.txt");
  std::ofstream(notes) << "not a disc\n";
  text = openError(notes);
  EXPECT_NE(text.find(notes), std::string::npos) << text;
  EXPECT_NE(text.find("not a CD image"), std::string::npos) << text;

  text = openError(dir.path.string());
  EXPECT_NE(text.find("neither a CD drive nor a CD image"), std::string::npos) << text;

  // A CUE sheet whose BIN is missing names the file that is missing.
  const std::string cue = writeImage(dir, "lonely", {300});
  std::filesystem::remove(dir.file("lonely.bin"));
  text = openError(cue);
  EXPECT_NE(text.find("lonely.bin"), std::string::npos) << text;

  text = openError("/dev/null");
  EXPECT_NE(text.find("/dev/null: not a CD drive"), std::string::npos) << text;
}

TEST(CdioDriver, ASecondPlayerOnTheSameImageFindsItInUse) {
  Dir dir;
  const std::string cue = writeImage(dir, "disc", {300, 300});
  auto first = std::make_unique<CdAudioDevice>(std::make_unique<CdioDriver>(cue));
  first->Device_Open();
  // Another name for the same file is the same device.
  const std::string alias = dir.file("alias.cue");
  std::filesystem::create_symlink(cue, alias);
  const std::string text = openError(alias);
  EXPECT_NE(text.find(alias), std::string::npos) << text;
  EXPECT_NE(text.find("in use"), std::string::npos) << text;
  first.reset();  // closing releases it
  EXPECT_EQ(openError(alias), "");
}

TEST(CdioDriver, AnImageHasAVirtualTray) {
  Dir dir;
  const std::string first = writeImage(dir, "first", {300, 300});
  const std::string second = writeImage(dir, "second", {200, 200, 200, 200});
  auto driver = std::make_unique<CdioDriver>(first);
  CdioDriver* cdio = driver.get();
  CdAudioDevice player(std::move(driver));
  player.Device_Open();
  player.Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  EXPECT_EQ(player.Device_Mode(), kStopped);  // an image is ready at once
  EXPECT_EQ(player.Device_Tracks(), 2u);
  EXPECT_TRUE(player.Can_Eject());

  player.Device_Eject();
  EXPECT_EQ(player.Device_Mode(), kOpen);
  std::string error;
  EXPECT_FALSE(cdio->insertImage(dir.file("nothing.cue"), &error));
  EXPECT_NE(error.find("nothing.cue"), std::string::npos) << error;
  EXPECT_EQ(player.Device_Mode(), kOpen);

  ASSERT_TRUE(cdio->insertImage(second, &error)) << error;
  EXPECT_EQ(player.Device_Mode(), kStopped);
  EXPECT_EQ(player.Device_Tracks(), 4u);
  EXPECT_EQ(player.Device_Position(), tmsf::TrackStart(1));
  // The monitor's next looks agree with what insertImage showed at once.
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(player.Device_Mode(), kStopped);
  EXPECT_EQ(player.Device_Tracks(), 4u);
}

TEST(CdioDriver, StatusQueriesNeverWaitForAHangingDrive) {
  FakeSetup fake = openFake("fake-hanging-drive");
  fake.drive->set(DriveIo::Status::DiscOk, threeTracks());
  fake.drive->hang(3s);
  fake.player->Device_Open();
  fake.player->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  auto quick = [&] {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
      fake.player->Device_Mode();
      fake.player->Device_Position();
    }
    return std::chrono::steady_clock::now() - start < 1s;
  };
  // The first look has not come back: not ready, at once.
  EXPECT_TRUE(quick());
  EXPECT_EQ(fake.player->Device_Mode(), kNotReady);
  fake.drive->hang(0ms);
  ASSERT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kStopped; }));

  // Hanging again, the queries answer from the last look.
  fake.drive->hang(3s);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(quick());
  EXPECT_EQ(fake.player->Device_Mode(), kStopped);
  EXPECT_EQ(fake.player->Device_Tracks(), 3u);
  fake.drive->hang(0ms);
}

TEST(CdioDriver, NonsenseTablesAndVanishedDrivesCountAsNoDisc) {
  FakeSetup fake = openFake("fake-drive");
  fake.drive->set(DriveIo::Status::DiscOk, threeTracks());
  fake.player->Device_Open();
  ASSERT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kStopped; }));

  fake.drive->set(DriveIo::Status::TrayOpen, std::nullopt);
  EXPECT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kOpen; }));
  // A disc whose leadout comes before its last track.
  fake.drive->set(DriveIo::Status::DiscOk, DiscToc({{0, true}, {900, true}}, 600));
  EXPECT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kNotReady; }));
  EXPECT_EQ(fake.player->Device_Tracks(), 0u);

  fake.drive->set(DriveIo::Status::TrayOpen, std::nullopt);
  ASSERT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kOpen; }));
  fake.drive->set(DriveIo::Status::DiscOk, DiscToc(std::vector<TocTrack>(100), 9000));
  EXPECT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kNotReady; }));

  fake.drive->set(DriveIo::Status::TrayOpen, std::nullopt);
  ASSERT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kOpen; }));
  fake.drive->set(DriveIo::Status::DiscOk, threeTracks());
  ASSERT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kStopped; }));
  // Unplugged: the node answers nothing any more.
  fake.drive->set(DriveIo::Status::NotReady, std::nullopt);
  EXPECT_TRUE(waitFor([&] { return fake.player->Device_Mode() == kNotReady; }));
}

TEST(AudioReader, BadSectorsBecomeSilenceAndTheRestIsKept) {
  FakeDrive drive;
  drive.breakSector(7);
  drive.breakSector(20);
  std::vector<std::byte> out(25 * kBytesPerSector);
  ASSERT_TRUE(AudioReader::ReadResilient(drive, 0, 25, out.data(), [] { return true; }));
  for (int s = 0; s < 25; ++s) {
    const auto expected = (s == 7 || s == 20) ? std::byte{0} : std::byte(0x11 + s % 64);
    EXPECT_EQ(out[static_cast<std::size_t>(s) * kBytesPerSector], expected) << "sector " << s;
    EXPECT_EQ(out[static_cast<std::size_t>(s + 1) * kBytesPerSector - 1], expected);
  }
  // Halving finds each bad sector in a few reads instead of one read per sector.
  EXPECT_LT(drive.reads(), 25);

  // A stop while retrying gives up at once.
  int asked = 0;
  EXPECT_FALSE(AudioReader::ReadResilient(drive, 0, 25, out.data(), [&] { return ++asked < 2; }));
}

TEST(AudioReader, PlaySpansSkipDataTracks) {
  const DiscToc disc({{0, false}, {100, true}, {200, true}, {300, false}, {400, true}}, 500);
  EXPECT_EQ(AudioSpans(disc, 0), (std::vector<PlaySpan>{{100, 300}, {400, 500}}));
  EXPECT_EQ(AudioSpans(disc, 250), (std::vector<PlaySpan>{{250, 300}, {400, 500}}));
  EXPECT_EQ(AudioSpans(disc, 320), (std::vector<PlaySpan>{{400, 500}}));
  EXPECT_TRUE(AudioSpans(DiscToc({{0, true}, {100, false}}, 200), 150).empty());

  const std::vector<PlaySpan> spans{{100, 300}, {400, 500}};
  EXPECT_EQ(SectorAfter(spans, 0), 100);
  EXPECT_EQ(SectorAfter(spans, 199), 299);
  EXPECT_EQ(SectorAfter(spans, 200), 400);  // straight over the data track
  EXPECT_EQ(SectorAfter(spans, 1000), 500);
}

TEST(PcmRing, WrapsAroundAndDrainsOnlyWhenFinished) {
  PcmRing ring(10);
  std::byte data[8], out[8];
  for (int i = 0; i < 8; ++i) data[i] = std::byte(i + 1);
  EXPECT_EQ(ring.write(data, 8), 8u);
  EXPECT_EQ(ring.write(data, 8), 2u);  // only the room there is
  EXPECT_EQ(ring.read(out, 6), 6u);
  EXPECT_EQ(ring.write(data, 6), 6u);  // across the end of the buffer
  EXPECT_EQ(ring.read(out, 8), 8u);
  EXPECT_EQ(out[0], std::byte{7});
  EXPECT_EQ(out[2], std::byte{1});
  EXPECT_EQ(out[7], std::byte{4});
  EXPECT_FALSE(ring.drained());
  EXPECT_EQ(ring.read(nullptr, 8), 2u);  // discarding also counts as taking
  EXPECT_FALSE(ring.drained());
  ring.finish();
  EXPECT_TRUE(ring.drained());
}

}  // namespace
