// Playback heard through a real sound server: each track sounds a tone of its own, and the sink's
// monitor is recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "device/CdAudioDevice.h"
#include "device/Tmsf.h"
#include "playback/CdioDriver.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

constexpr std::int64_t kRate = 44100;
constexpr std::uint8_t kStopped = 1, kPlaying = 2, kOpen = 6;
constexpr double kTone[] = {440, 620, 830, 1050};

double ZeroCrossingHz(const std::vector<std::int16_t>& samples) {
  std::vector<std::size_t> at;
  for (std::size_t i = 1; i < samples.size(); ++i)
    if ((samples[i - 1] < 0) != (samples[i] < 0)) at.push_back(i);
  if (at.size() < 2) return 0;
  return static_cast<double>(at.size() - 1) * kRate / 2.0 / static_cast<double>(at.back() - at[0]);
}

class Playback : public ::testing::Test {
 protected:
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
  void next() {  // as the Next button does
    device_->Device_Set_Wait(true);
    device_->Device_Next();
    device_->Device_Set_Wait(false);
  }

  std::vector<std::int16_t> recorded(std::int64_t from, std::int64_t count) {
    EXPECT_TRUE(WaitFor([&] { return sound_.frames() > from + count; }, 10s));
    return sound_.left(from, count);
  }
  bool mode(std::uint8_t wanted) {
    return WaitFor([&] { return device_->Device_Mode() == wanted; }, 20s);
  }
  bool advances(std::int64_t frames) {
    const std::int64_t then = driver_->positionFrames();
    return WaitFor([&] { return driver_->positionFrames() > then + frames; }, 10s);
  }

  TempDir dir_;  // the images, outliving whatever plays them
  SoundServer sound_;
  CdioDriver* driver_ = nullptr;
  std::unique_ptr<CdAudioDevice> device_;
};

TEST_F(Playback, EachTrackSoundsItsOwnToneStopSilencesAndACommandStormStillSounds) {
  ASSERT_EQ(sound_.start(), "");
  open("tones", {{6, kTone[0]}, {6, kTone[1]}, {6, kTone[2]}, {6, kTone[3]}});
  device_->Device_Play();
  ASSERT_TRUE(sound_.hears(kTone[0])) << "track 1 was not heard";
  EXPECT_LE(ToneLevel(sound_.latest(), kTone[1]), kHeard);
  EXPECT_EQ(device_->Device_Mode(), kPlaying);
  const std::string inputs = Output("pactl list sink-inputs");  // as a mixer shows
  for (const char* property : {"application.name = \"Zarn's CDPlayer\"",
                               "application.icon_name = \"zarncd\"", "media.role = \"music\""})
    EXPECT_NE(inputs.find(property), std::string::npos) << inputs;

  // The GUI thread busy with something else for a second leaves no 10 ms without sound.
  const std::int64_t from = sound_.frames();
  std::this_thread::sleep_for(1s);
  const auto heard = recorded(from, kRate * 13 / 10);
  double quietest = 1;
  for (auto at = heard.begin(); at + 441 <= heard.end(); at += 441)
    quietest = std::min(quietest, Rms({at, at + 441}));
  EXPECT_GT(quietest, 0.1) << "a gap in the sound while the GUI thread was blocked";

  next();
  ASSERT_TRUE(sound_.hears(kTone[1])) << "Next did not bring track 2";
  EXPECT_EQ(tmsf::Track(device_->Device_Position()), 2);
  // Once the new track sounds, the old one is gone for good.
  EXPECT_LT(ToneLevel(recorded(sound_.frames(), kRate / 2), kTone[0]), kHeard / 2);

  device_->Device_Stop();  // as the Stop button does
  device_->Device_Seek(tmsf::TrackStart(tmsf::Track(device_->Device_Position())));
  EXPECT_EQ(device_->Device_Mode(), kStopped);
  EXPECT_EQ(device_->Device_Position(), tmsf::TrackStart(2));
  ASSERT_TRUE(sound_.quiets()) << "Stop did not silence the disc";
  EXPECT_LT(Rms(recorded(sound_.frames(), kRate)), 0.01) << "sound came back after Stop";

  // A thousand commands in quick succession, and the player still sounds.
  for (int i = 0; i < 1000; ++i) {
    if (i % 4 == 0) device_->Device_Play();
    if (i % 4 == 1) device_->Device_Next();
    if (i % 4 == 2) device_->Device_Stop();
    if (i % 4 == 3) device_->Device_Seek(tmsf::TrackStart(1 + i % 3));
  }
  playTrack(3);
  EXPECT_TRUE(sound_.hears(kTone[2]));
  EXPECT_FALSE(driver_->isSilent());
}

TEST_F(Playback, ReportedPositionAgreesWithWhatIsHeard) {
  // One sweep from 300 Hz to 3300 Hz over 14 s: the pitch heard tells the position heard.
  constexpr double kFrom = 300, kTo = 3300, kSeconds = 14;
  ASSERT_EQ(sound_.start(), "");
  open("sweep", {{kSeconds, kFrom, kTo}});
  device_->Device_Play();
  ASSERT_TRUE(WaitFor([&] { return driver_->positionFrames() >= 10 * kRate; }, 40s));
  std::vector<double> errors;
  for (int i = 0; i < 3; ++i) {
    const double reported = static_cast<double>(driver_->positionFrames()) / kRate;
    // The 50 ms just recorded, once they are surely on disk.
    const std::int64_t now = sound_.frames();
    ASSERT_TRUE(WaitFor([&] { return sound_.frames() > now + kRate / 10; }, 10s));
    const double hz = ZeroCrossingHz(sound_.left(now - kRate / 20, kRate / 20));
    const double heard = (hz - kFrom) / (kTo - kFrom) * kSeconds + 0.025;
    errors.push_back(std::abs(heard - reported));
  }
  std::sort(errors.begin(), errors.end());
  EXPECT_LT(errors[1], 0.3) << "reported and heard positions differ by " << errors[1] << " s";
}

// Data tracks are skipped and never heard, and the end of the disc stops; an image cut short
// plays its missing sectors as silence, and a deleted one is a disc taken out.
TEST_F(Playback, DataTracksAreNeverHeardAndCutOrDeletedImagesStop) {
  constexpr double kData = 3000;
  ASSERT_EQ(sound_.start(), "");
  open("mixed", {{2, kData, 0, true}, {2, kTone[0]}, {2, kData, 0, true}, {2, kTone[2]}});
  const std::int64_t start = sound_.frames();
  device_->Device_Play();  // from track 1, a data track
  ASSERT_TRUE(sound_.hears(kTone[0]));
  ASSERT_TRUE(sound_.hears(kTone[2]));
  ASSERT_TRUE(mode(kStopped));
  playTrack(3);  // onto the second data track: the next audio track plays
  ASSERT_TRUE(sound_.hears(kTone[2]));
  ASSERT_TRUE(mode(kStopped)) << "the end of the disc did not stop it";
  EXPECT_EQ(device_->Device_Position(), tmsf::Make(4, 0, 2, 0));  // track 4 at its length
  EXPECT_TRUE(sound_.quiets());
  // Over all that was recorded, in 50 ms steps, the data never sounded.
  double loudest = 0;
  for (std::int64_t at = start; at + 2205 <= sound_.frames(); at += 2205)
    loudest = std::max(loudest, ToneLevel(sound_.left(at, 2205), kData));
  EXPECT_LT(loudest, kHeard / 2);

  open("cut", {{2.5, kTone[0]}, {2.5, kTone[1]}, {2.5, kTone[2]}});
  device_->Device_Play();
  ASSERT_TRUE(sound_.hears(kTone[0]));
  // Cut the image inside track 1: the rest reads as errors, which play as silence.
  std::filesystem::resize_file(dir_.file("cut.bin"), 2352 * 75);
  ASSERT_TRUE(sound_.quiets(15s)) << "the missing sectors sounded";
  ASSERT_TRUE(mode(kStopped)) << "playback did not end";

  open("gone", {{6, kTone[3]}});
  device_->Device_Play();
  ASSERT_TRUE(sound_.hears(kTone[3]));
  std::filesystem::remove(dir_.file("gone.bin"));
  std::filesystem::remove(dir_.file("gone.cue"));
  EXPECT_TRUE(mode(kOpen));
  EXPECT_TRUE(sound_.quiets());
  // Put back (another disc under the same name), it is a disc put in, and the new one plays.
  WriteToneImage(dir_.path(), "gone", {{6, kTone[1]}, {6, kTone[2]}});
  ASSERT_TRUE(mode(kStopped));
  device_->Device_Play();
  EXPECT_TRUE(sound_.hears(kTone[1])) << "the image put back did not play";
}

// Without a sound server, ALSA plays the disc. A hung sound server takes connections and answers
// nothing. It holds no command: Play, Next and Stop return at once, and the position goes on by
// the clock; nor is ALSA's default device (on such a machine the server's own plugin) asked in
// its place. Woken, or restarted, the server is heard again without a new Play.
TEST_F(Playback, WithoutAServerAlsaPlaysAndAHungServerHoldsNoCommandAndIsHeardOnceItAnswers) {
  ::setenv("PULSE_SERVER", sound_.address().c_str(), 1);  // nobody answers there
  // ALSA's default device as a file of what it was given.
  const std::string written = dir_.file("alsa.raw");
  std::ofstream(dir_.file("asound.conf"))
      << "pcm.!default { type file slave.pcm { type null } file \"" << written
      << "\" format raw }\n";
  ::setenv("ALSA_CONFIG_PATH", dir_.file("asound.conf").c_str(), 1);
  open("tones", {{8, kTone[0]}});
  device_->Device_Play();
  EXPECT_TRUE(advances(kRate));
  EXPECT_FALSE(driver_->isSilent());
  device_.reset();
  EXPECT_GT(ToneLevel(LeftChannel(written, 0, 4410), kTone[0]), kHeard) << "ALSA was not used";
  std::filesystem::remove(written);

  ASSERT_EQ(sound_.start(), "");
  open("hung", {{30, kTone[0]}, {30, kTone[1]}, {30, kTone[2]}});
  device_->Device_Play();
  ASSERT_TRUE(sound_.hears(kTone[0]));
  sound_.hang();
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"Next", [&] { next(); }},
      {"Stop", [&] { device_->Device_Stop(); }},
      {"Play", [&] { device_->Device_Play(); }}};
  for (const auto& [name, command] : commands) {
    const auto start = std::chrono::steady_clock::now();
    command();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms) << name << " waited for the server";
  }
  EXPECT_TRUE(advances(kRate / 2)) << "the position waits for the hung server";
  EXPECT_EQ(tmsf::Track(device_->Device_Position()), 2);
  sound_.wake();
  EXPECT_TRUE(sound_.hears(kTone[1])) << "the woken server was not used";
  sound_.kill();
  ASSERT_EQ(sound_.start(), "");
  EXPECT_TRUE(sound_.hears(kTone[1])) << "the restarted server was not used";
  EXPECT_FALSE(driver_->isSilent());
  ::unsetenv("ALSA_CONFIG_PATH");
  EXPECT_TRUE(LeftChannel(written, 0, 1).empty()) << "ALSA played in place of a hung server";
}

// The sound server not there when playing starts, shut down in order, killed under the player;
// each time back, but for the last. Play, Next and Stop go on, silently, on the clock, to the end
// of the disc; and once the server is back, what plays is heard through it. (Each way it goes
// ends in the same loss of the server; the first is a connection refused instead.)
TEST_F(Playback, WithoutItsServerThePlayerGoesOnByTheClockAndIsHeardOnceItIsBack) {
  ::setenv("PULSE_SERVER", sound_.address().c_str(), 1);  // nobody answers there yet
  open("died", {{20, kTone[0]}, {20, kTone[1]}, {20, kTone[2]}, {20, kTone[3]}, {3, kTone[0]}});
  device_->Device_Play();
  const std::pair<const char*, std::function<void()>> losses[] = {
      {"absent", [] {}}, {"terminated", [&] { sound_.terminate(); }}, {"killed", [&] {
                                                                         sound_.kill();
                                                                       }}};
  for (int track = 1; const auto& [name, loss] : losses) {
    SCOPED_TRACE(name);
    loss();
    ASSERT_TRUE(WaitFor([&] { return driver_->isSilent(); }, 10s));
    EXPECT_TRUE(advances(kRate)) << "the position stopped with the sound server";
    EXPECT_EQ(device_->Device_Mode(), kPlaying);
    if (track == 3) break;  // gone for good
    ASSERT_EQ(sound_.start(), "");
    next();
    ASSERT_TRUE(mode(kPlaying));
    EXPECT_EQ(tmsf::Track(device_->Device_Position()), track + 1);
    EXPECT_TRUE(sound_.hears(kTone[track])) << "the server came back and was not used";
    EXPECT_TRUE(WaitFor([&] { return !driver_->isSilent(); }, 10s));
    ++track;
  }
  next();
  ASSERT_TRUE(mode(kPlaying));
  // Silent once the output has given up asking the server that is gone.
  EXPECT_TRUE(WaitFor([&] { return driver_->isSilent(); }, 10s));
  device_->Device_Stop();
  EXPECT_EQ(device_->Device_Mode(), kStopped);
  EXPECT_FALSE(driver_->isSilent()) << "a stopped player still says it plays silently";
  device_->Device_Play();
  ASSERT_TRUE(mode(kPlaying));
  EXPECT_TRUE(advances(kRate / 2)) << "the position no longer moves";
  next();  // onto the last track, 3 s long
  EXPECT_TRUE(mode(kStopped)) << "the clock never reached the end of the disc";
  device_.reset();  // and the player closes cleanly
}

}  // namespace
