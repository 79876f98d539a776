// Digital playback heard through a real sound server: each test disc's tracks sound tones of
// their own, the sink's monitor is recorded, and the assertions are about what was heard.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

#include "ToneImage.h"
#include "device/CdAudioDevice.h"
#include "playback/CdioDriver.h"
#include "device/Tmsf.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::WaitFor;

namespace {

constexpr std::int64_t kRate = 44100;
constexpr std::uint8_t kStopped = 1, kPlaying = 2, kOpen = 6;
constexpr double kHeard = 0.08;  // a tone at half scale measures about 0.5
constexpr double kTone[] = {440, 620, 830, 1050};

class Playback : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sound_.start(&error)) << error;
    sound_.keepAwake();
    ASSERT_TRUE(recorder_.start(sound_, dir_.file("monitor.raw")));
  }
  void TearDown() override {
    device_.reset();
    recorder_.stop();
    sound_.stop();
  }

  void open(const std::string& name, const std::vector<ToneTrack>& tracks) {
    auto driver = std::make_unique<CdioDriver>(WriteToneImage(dir_.path(), name, tracks));
    driver_ = driver.get();
    device_ = std::make_unique<CdAudioDevice>(std::move(driver));
    device_->Device_Open();
    device_->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  }
  void playTrack(std::uint32_t track) {
    device_->Device_Seek(tmsf::TrackStart(track));
    device_->Device_Play();
  }

  // The left channel of [from, from + count) once it is recorded.
  std::vector<std::int16_t> recorded(std::int64_t from, std::int64_t count) {
    EXPECT_TRUE(WaitFor([&] { return recorder_.frames() > from + count; }, 10s));
    return recorder_.left(from, count);
  }
  std::vector<std::int16_t> latest() const {
    return recorder_.left(recorder_.frames() - kRate / 10, kRate / 10);
  }
  bool hears(double hz) {
    return WaitFor([&] { return ToneLevel(latest(), hz) > kHeard; }, 10s);
  }
  bool quiets() {
    return WaitFor([&] { return Rms(latest()) < 0.01; }, 5s);
  }
  bool mode(std::uint8_t wanted) {
    return WaitFor([&] { return device_->Device_Mode() == wanted; }, 20s);
  }

  testsupport::TempDir dir_;
  testsupport::SoundServer sound_;
  testsupport::MonitorRecorder recorder_;
  CdioDriver* driver_ = nullptr;
  std::unique_ptr<CdAudioDevice> device_;
};

TEST_F(Playback, EachTrackSoundsItsOwnToneAndStopIsSilent) {
  open("tones", {{6, kTone[0]}, {6, kTone[1]}, {6, kTone[2]}, {6, kTone[3]}});
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0])) << "track 1 was not heard";
  EXPECT_LE(ToneLevel(latest(), kTone[1]), kHeard);
  EXPECT_EQ(device_->Device_Mode(), kPlaying);

  // The player's Next button.
  device_->Device_Set_Wait(true);
  device_->Device_Next();
  device_->Device_Set_Wait(false);
  ASSERT_TRUE(hears(kTone[1])) << "Next did not bring track 2";
  EXPECT_EQ(tmsf::Track(device_->Device_Position()), 2);
  // Once the new track sounds, the old one is gone for good.
  EXPECT_LT(ToneLevel(recorded(recorder_.frames(), kRate / 2), kTone[0]), kHeard / 2);

  // The player's Stop button.
  device_->Device_Stop();
  device_->Device_Seek(tmsf::TrackStart(tmsf::Track(device_->Device_Position())));
  EXPECT_EQ(device_->Device_Mode(), kStopped);
  EXPECT_EQ(device_->Device_Position(), tmsf::TrackStart(2));
  ASSERT_TRUE(quiets()) << "Stop did not silence the disc";
  EXPECT_LT(Rms(recorded(recorder_.frames(), kRate)), 0.01) << "sound came back after Stop";
}

TEST_F(Playback, ReportedPositionAgreesWithWhatIsHeard) {
  // One sweep from 300 Hz to 3300 Hz over 14 s: the pitch heard tells the position heard.
  constexpr double kFrom = 300, kTo = 3300, kSeconds = 14;
  open("sweep", {{kSeconds, kFrom, kTo}});
  device_->Device_Play();
  ASSERT_TRUE(WaitFor([&] { return driver_->positionFrames() >= 10 * kRate; }, 40s));
  std::vector<double> errors;
  for (int i = 0; i < 3; ++i) {
    const double reported = static_cast<double>(driver_->positionFrames()) / kRate;
    // The 50 ms just recorded, once they are surely on disk.
    const std::int64_t now = recorder_.frames();
    ASSERT_TRUE(WaitFor([&] { return recorder_.frames() > now + kRate / 10; }, 10s));
    const double hz = ZeroCrossingHz(recorder_.left(now - kRate / 20, kRate / 20));
    const double heard = (hz - kFrom) / (kTo - kFrom) * kSeconds + 0.025;
    errors.push_back(std::abs(heard - reported));
  }
  std::sort(errors.begin(), errors.end());
  EXPECT_LT(errors[1], 0.3) << "reported and heard positions differ by " << errors[1] << " s";
}

TEST_F(Playback, DataTracksAreNeverHeardAndTheEndOfTheDiscStops) {
  constexpr double kData = 3000;
  open("mixed", {{2, kData, 0, true}, {2, kTone[0]}, {2, kData, 0, true}, {2, kTone[2]}});
  const std::int64_t start = recorder_.frames();
  device_->Device_Play();  // from track 1, a data track
  ASSERT_TRUE(hears(kTone[0]));
  ASSERT_TRUE(hears(kTone[2]));
  ASSERT_TRUE(mode(kStopped));
  playTrack(3);  // onto the second data track: the next audio track plays
  ASSERT_TRUE(hears(kTone[2]));
  ASSERT_TRUE(mode(kStopped)) << "the end of the disc did not stop it";
  EXPECT_EQ(device_->Device_Position(), tmsf::Make(4, 0, 2, 0));  // track 4 at its length
  EXPECT_TRUE(quiets());
  // Over all that was recorded, in 50 ms steps, the data never sounded.
  double loudest = 0;
  for (std::int64_t at = start; at + 2205 <= recorder_.frames(); at += 2205)
    loudest = std::max(loudest, ToneLevel(recorder_.left(at, 2205), kData));
  EXPECT_LT(loudest, kHeard / 2);
}

TEST_F(Playback, ImageTruncatedOrDeletedDuringPlay) {
  open("cut", {{2.5, kTone[0]}, {2.5, kTone[1]}, {2.5, kTone[2]}});
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0]));
  // Cut the image inside track 1: the rest reads as errors, which play as silence.
  std::filesystem::resize_file(dir_.file("cut.bin"), 2352 * 75);
  ASSERT_TRUE(WaitFor([&] { return Rms(latest()) < 0.01; }, 15s)) << "the missing sectors sounded";
  ASSERT_TRUE(mode(kStopped)) << "playback did not end";

  open("gone", {{6, kTone[3]}});
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[3]));
  // A deleted image is a disc taken out: the tray shows open, and the sound stops.
  std::filesystem::remove(dir_.file("gone.bin"));
  std::filesystem::remove(dir_.file("gone.cue"));
  EXPECT_TRUE(mode(kOpen));
  EXPECT_TRUE(quiets());
  // Put back (another disc under the same name), it is a disc put in: stopped at its start,
  // and what plays is the new one.
  WriteToneImage(dir_.path(), "gone", {{6, kTone[1]}, {6, kTone[2]}});
  ASSERT_TRUE(mode(kStopped));
  EXPECT_EQ(device_->Device_Tracks(), 2u);
  EXPECT_EQ(device_->Device_Position(), tmsf::TrackStart(1));
  device_->Device_Play();
  EXPECT_TRUE(hears(kTone[1])) << "the image put back did not play";
}

TEST_F(Playback, SoundServerKilledDuringPlayKeepsTheClock) {
  open("long", {{8, kTone[0]}});
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0]));
  sound_.kill();
  ASSERT_TRUE(WaitFor([&] { return driver_->isSilent(); }, 10s));
  const std::int64_t then = driver_->positionFrames();
  EXPECT_TRUE(WaitFor([&] { return driver_->positionFrames() > then + kRate; }, 10s))
      << "the position stopped with the sound server";
  EXPECT_EQ(device_->Device_Mode(), kPlaying);
  EXPECT_TRUE(mode(kStopped)) << "the silent clock never reached the end of the disc";
}

// Play, the sound server dies under the player: Next, Stop and Play go on, silently, on the
// clock; and when the server is back, the next Play is heard through it.
class ServerDeath : public Playback {
 protected:
  void run(bool term, bool restart) {
    open("died", {{20, kTone[0]}, {20, kTone[1]}, {20, kTone[2]}});
    device_->Device_Play();
    ASSERT_TRUE(hears(kTone[0]));
    if (term)
      sound_.terminate();
    else
      sound_.kill();
    ASSERT_TRUE(WaitFor([&] { return driver_->isSilent(); }, 10s));
    if (restart) {
      std::string error;
      ASSERT_TRUE(sound_.start(&error)) << error;
      sound_.keepAwake();
      ASSERT_TRUE(recorder_.start(sound_, dir_.file("monitor2.raw")));
    }
    device_->Device_Set_Wait(true);
    device_->Device_Next();
    device_->Device_Set_Wait(false);
    ASSERT_TRUE(mode(kPlaying));
    EXPECT_EQ(tmsf::Track(device_->Device_Position()), 2);
    if (restart) {
      EXPECT_TRUE(hears(kTone[1])) << "the server came back and was not used";
    }
    EXPECT_EQ(driver_->isSilent(), !restart);
    device_->Device_Stop();
    EXPECT_EQ(device_->Device_Mode(), kStopped);
    EXPECT_FALSE(driver_->isSilent()) << "a stopped player still says it plays silently";
    device_->Device_Play();
    ASSERT_TRUE(mode(kPlaying));
    const std::int64_t then = driver_->positionFrames();
    EXPECT_TRUE(WaitFor([&] { return driver_->positionFrames() > then + kRate / 2; }, 10s))
        << "the position no longer moves";
    if (restart) {
      EXPECT_TRUE(hears(kTone[1]));
    }
    device_->Device_Stop();
    device_.reset();  // and the player closes cleanly
  }
};

TEST_F(ServerDeath, KilledThenNextStopAndPlay) {
  run(false, false);
}
TEST_F(ServerDeath, KilledAndBackThenNextStopAndPlay) {
  run(false, true);
}
TEST_F(ServerDeath, TerminatedThenNextStopAndPlay) {
  run(true, false);
}
TEST_F(ServerDeath, TerminatedAndBackThenNextStopAndPlay) {
  run(true, true);
}

TEST_F(Playback, BlockedGuiThreadLeavesNoGap) {
  open("steady", {{6, kTone[1]}});
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[1]));
  const std::int64_t from = recorder_.frames();
  std::this_thread::sleep_for(1s);  // the GUI thread busy with something else
  const auto heard = recorded(from, kRate * 13 / 10);
  double quietest = 1;
  for (std::size_t at = 0; at + 441 <= heard.size(); at += 441)
    quietest = std::min(quietest, Rms({heard.begin() + static_cast<std::ptrdiff_t>(at),
                                       heard.begin() + static_cast<std::ptrdiff_t>(at + 441)}));
  EXPECT_GT(quietest, 0.1) << "a gap in the sound while the GUI thread was blocked";
}

}  // namespace
