// Digital playback heard through a real sound server: each test disc's tracks sound tones of
// their own, the sink's monitor is recorded, and the assertions are about what was heard.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

#include "ToneImage.h"
#include "device/CdAudioDevice.h"
#include "device/CdioDriver.h"
#include "device/Tmsf.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::WaitFor;

namespace {

constexpr double kRate = 44100;
constexpr std::uint8_t kStopped = 1, kPlaying = 2, kNotReady = 0;
constexpr double kHeard = 0.08;  // a tone at half scale measures about 0.5

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

  void open(const std::string& image) {
    auto driver = std::make_unique<CdioDriver>(image);
    driver_ = driver.get();
    device_ = std::make_unique<CdAudioDevice>(std::move(driver));
    device_->Device_Open();
    device_->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  }

  // The player's own sequences for its buttons.
  void next() {
    device_->Device_Set_Wait(true);
    device_->Device_Next();
    device_->Device_Position();
    device_->Device_Set_Wait(false);
  }
  void stopAtTrackStart() {
    device_->Device_Stop();
    device_->Device_Seek(tmsf::TrackStart(tmsf::Track(device_->Device_Position())));
  }
  void playTrack(std::uint32_t track) {
    device_->Device_Seek(tmsf::TrackStart(track));
    device_->Device_Play();
  }

  // The last `ms` milliseconds recorded.
  std::vector<std::int16_t> latest(int ms = 100) const {
    const std::int64_t count = static_cast<std::int64_t>(kRate * ms / 1000);
    return recorder_.left(recorder_.frames() - count, count);
  }
  bool hearing(double hz) const {
    const auto window = latest();
    return ToneLevel(window, hz) > kHeard;
  }
  bool silent() const { return Rms(latest()) < 0.01; }
  // Waits until the tone is heard, letting the event loop run.
  bool hears(double hz, std::chrono::milliseconds deadline = 10s) {
    return WaitFor([&] { return hearing(hz); }, deadline);
  }
  bool mode(std::uint8_t wanted, std::chrono::milliseconds deadline = 10s) {
    return WaitFor([&] { return device_->Device_Mode() == wanted; }, deadline);
  }

  testsupport::TempDir dir_;
  testsupport::SoundServer sound_;
  testsupport::MonitorRecorder recorder_;
  CdioDriver* driver_ = nullptr;
  std::unique_ptr<CdAudioDevice> device_;
};

constexpr double kTone[] = {440, 620, 830, 1050};

TEST_F(Playback, EachTrackSoundsItsOwnToneAndStopIsSilent) {
  open(WriteToneImage(dir_.path(), "tones",
                      {{6, kTone[0]}, {6, kTone[1]}, {6, kTone[2]}, {6, kTone[3]}}));
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0])) << "track 1 was not heard";
  EXPECT_FALSE(hearing(kTone[1]));
  EXPECT_EQ(device_->Device_Mode(), kPlaying);

  next();
  ASSERT_TRUE(hears(kTone[1])) << "Next did not bring track 2";
  EXPECT_EQ(tmsf::Track(device_->Device_Position()), 2);
  // Once the new track sounds, the old one is gone for good.
  const std::int64_t from = recorder_.frames();
  ASSERT_TRUE(WaitFor([&] { return recorder_.frames() > from + kRate / 2; }, 10s));
  EXPECT_LT(ToneLevel(recorder_.left(from, static_cast<std::int64_t>(kRate / 2)), kTone[0]),
            kHeard / 2);

  stopAtTrackStart();
  EXPECT_EQ(device_->Device_Mode(), kStopped);
  EXPECT_EQ(device_->Device_Position(), tmsf::TrackStart(2));
  ASSERT_TRUE(WaitFor([&] { return silent(); }, 5s)) << "Stop did not silence the disc";
  const std::int64_t quiet = recorder_.frames();
  ASSERT_TRUE(WaitFor([&] { return recorder_.frames() > quiet + kRate; }, 10s));
  EXPECT_LT(Rms(recorder_.left(quiet, static_cast<std::int64_t>(kRate))), 0.01)
      << "sound came back after Stop";
}

TEST_F(Playback, ReportedPositionAgreesWithWhatIsHeard) {
  // One sweep from 300 Hz to 3300 Hz over 14 s: the pitch heard tells the position heard.
  constexpr double kFrom = 300, kTo = 3300, kSeconds = 14;
  open(WriteToneImage(dir_.path(), "sweep", {{kSeconds, kFrom, kTo}}));
  device_->Device_Play();
  ASSERT_TRUE(WaitFor([&] { return driver_->positionFrames() >= 10 * kRate; }, 40s));
  std::vector<double> errors;
  for (int i = 0; i < 3; ++i) {
    const double reported = driver_->positionFrames() / kRate;
    const std::int64_t now = recorder_.frames();
    // The 50 ms just recorded, once they are surely on disk.
    ASSERT_TRUE(WaitFor([&] { return recorder_.frames() > now + kRate / 10; }, 10s));
    const double hz = ZeroCrossingHz(recorder_.left(now - 2205, 2205));
    const double heard = (hz - kFrom) / (kTo - kFrom) * kSeconds + 0.025;
    errors.push_back(std::abs(heard - reported));
  }
  std::sort(errors.begin(), errors.end());
  EXPECT_LT(errors[1], 0.3) << "reported and heard positions differ by " << errors[1] << " s";
}

TEST_F(Playback, PlayingToTheEndStopsAtTheEndOfTheDisc) {
  open(WriteToneImage(dir_.path(), "short", {{2, kTone[0]}, {2, kTone[1]}}));
  playTrack(2);
  ASSERT_TRUE(hears(kTone[1]));
  ASSERT_TRUE(mode(kStopped, 20s)) << "the end of the disc did not stop it";
  // The end of the disc: track 2 at its length, 2 seconds.
  EXPECT_EQ(device_->Device_Position(), tmsf::Make(2, 0, 2, 0));
  EXPECT_TRUE(WaitFor([&] { return silent(); }, 5s));
}

TEST_F(Playback, DataTracksAreNeverHeard) {
  constexpr double kData = 3000;
  open(WriteToneImage(dir_.path(), "mixed",
                      {{2, kData, 0, true}, {2, kTone[0]}, {2, kData, 0, true}, {2, kTone[2]}}));
  const std::int64_t start = recorder_.frames();
  device_->Device_Play();  // from track 1, a data track
  ASSERT_TRUE(hears(kTone[0]));
  ASSERT_TRUE(hears(kTone[2]));
  ASSERT_TRUE(mode(kStopped, 20s));
  playTrack(3);  // onto the second data track: the next audio track plays
  ASSERT_TRUE(hears(kTone[2]));
  ASSERT_TRUE(mode(kStopped, 20s));
  // Over all that was recorded, in 50 ms steps, the data never sounded.
  const std::int64_t end = recorder_.frames();
  double loudest = 0;
  for (std::int64_t at = start; at + 2205 <= end; at += 2205)
    loudest = std::max(loudest, ToneLevel(recorder_.left(at, 2205), kData));
  EXPECT_LT(loudest, kHeard / 2);
}

TEST_F(Playback, ImageTruncatedOrDeletedDuringPlay) {
  const std::string cue =
      WriteToneImage(dir_.path(), "cut", {{2.5, kTone[0]}, {2.5, kTone[1]}, {2.5, kTone[2]}});
  open(cue);
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0]));
  // Cut the image inside track 1: the rest reads as errors, which play as silence.
  std::filesystem::resize_file(dir_.file("cut.bin"), 2352 * 75);
  ASSERT_TRUE(WaitFor([&] { return silent(); }, 15s)) << "the missing sectors made noise";
  ASSERT_TRUE(mode(kStopped, 20s)) << "playback did not end";

  // Delete a playing image: the disc is gone, and so is the sound.
  open(WriteToneImage(dir_.path(), "gone", {{6, kTone[3]}}));
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[3]));
  std::filesystem::remove(dir_.file("gone.bin"));
  std::filesystem::remove(dir_.file("gone.cue"));
  EXPECT_TRUE(mode(kNotReady, 10s));
  EXPECT_TRUE(WaitFor([&] { return silent(); }, 5s));
}

TEST_F(Playback, SoundServerKilledDuringPlayKeepsTheClock) {
  open(WriteToneImage(dir_.path(), "long", {{8, kTone[0]}}));
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0]));
  sound_.kill();
  ASSERT_TRUE(WaitFor([&] { return driver_->isSilent(); }, 10s));
  const std::int64_t then = driver_->positionFrames();
  EXPECT_TRUE(WaitFor([&] { return driver_->positionFrames() > then + kRate; }, 10s))
      << "the position stopped with the sound server";
  EXPECT_EQ(device_->Device_Mode(), kPlaying);
  EXPECT_TRUE(mode(kStopped, 20s)) << "the silent clock never reached the end of the disc";
}

TEST_F(Playback, BlockedGuiThreadLeavesNoGap) {
  open(WriteToneImage(dir_.path(), "steady", {{6, kTone[1]}}));
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[1]));
  const std::int64_t from = recorder_.frames();
  std::this_thread::sleep_for(1s);  // the GUI thread busy with something else
  const std::int64_t to = from + static_cast<std::int64_t>(1.3 * kRate);
  ASSERT_TRUE(WaitFor([&] { return recorder_.frames() > to; }, 10s));
  double quietest = 1;
  for (std::int64_t at = from; at + 441 <= to; at += 441)
    quietest = std::min(quietest, Rms(recorder_.left(at, 441)));
  EXPECT_GT(quietest, 0.1) << "a gap in the sound while the GUI thread was blocked";
}

}  // namespace
