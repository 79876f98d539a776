// The sound output against a server that comes and goes, and under a storm of commands.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "ToneImage.h"
#include "device/CdAudioDevice.h"
#include "device/Tmsf.h"
#include "playback/CdioDriver.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::WaitFor;

namespace {

constexpr double kTone[] = {440, 620, 830};

class SoundOutput : public ::testing::Test {
 protected:
  void TearDown() override {
    device_.reset();
    recorder_.stop();
    sound_.stop();
  }
  void startServer() {
    std::string error;
    ASSERT_TRUE(sound_.start(&error)) << error;
    sound_.keepAwake();
    ASSERT_TRUE(recorder_.start(sound_, dir_.file("monitor.raw")));
  }
  void open() {
    auto driver = std::make_unique<CdioDriver>(
        WriteToneImage(dir_.path(), "tones", {{8, kTone[0]}, {8, kTone[1]}, {8, kTone[2]}}));
    driver_ = driver.get();
    device_ = std::make_unique<CdAudioDevice>(std::move(driver));
    device_->Device_Open();
    device_->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  }
  bool hears(double hz) {
    return WaitFor(
        [&] {
          const std::int64_t end = recorder_.frames();
          return ToneLevel(recorder_.left(end - 4410, 4410), hz) > 0.08;
        },
        10s);
  }

  testsupport::TempDir dir_;
  testsupport::SoundServer sound_;
  testsupport::MonitorRecorder recorder_;
  CdioDriver* driver_ = nullptr;
  std::unique_ptr<CdAudioDevice> device_;
};

TEST_F(SoundOutput, ThousandCommandsInQuickSuccessionStillSound) {
  startServer();
  open();
  for (int i = 0; i < 1000; ++i) {
    switch (i % 4) {
      case 0:
        device_->Device_Play();
        break;
      case 1:
        device_->Device_Next();
        break;
      case 2:
        device_->Device_Stop();
        break;
      case 3:
        device_->Device_Seek(tmsf::TrackStart(1 + i % 3));
        break;
    }
  }
  device_->Device_Seek(tmsf::TrackStart(3));
  device_->Device_Play();
  EXPECT_TRUE(hears(kTone[2]));
  EXPECT_FALSE(driver_->isSilent());
}

TEST_F(SoundOutput, ServerStartedAfterThePlayerIsUsedAtTheNextPlay) {
  ::setenv("PULSE_SERVER", sound_.address().c_str(), 1);  // nobody answers there yet
  open();
  device_->Device_Play();
  ASSERT_TRUE(WaitFor([&] { return driver_->isSilent(); }, 10s));
  startServer();
  device_->Device_Stop();
  device_->Device_Seek(tmsf::TrackStart(2));
  device_->Device_Play();
  EXPECT_TRUE(hears(kTone[1]));
  EXPECT_FALSE(driver_->isSilent());
}

TEST_F(SoundOutput, WithoutAServerAlsaPlaysTheDisc) {
  ::setenv("PULSE_SERVER", sound_.address().c_str(), 1);  // nobody answers there
  // ALSA's default device as a file of what it was given.
  const std::string written = dir_.file("alsa.raw");
  std::ofstream(dir_.file("asound.conf"))
      << "pcm.!default { type file slave.pcm { type null } file \"" << written
      << "\" format raw }\n";
  ::setenv("ALSA_CONFIG_PATH", dir_.file("asound.conf").c_str(), 1);
  open();
  device_->Device_Play();
  EXPECT_FALSE(driver_->isSilent());
  EXPECT_TRUE(WaitFor([&] { return driver_->positionFrames() > 44100; }, 10s));
  ::unsetenv("ALSA_CONFIG_PATH");
  std::ifstream in(written, std::ios::binary);
  std::vector<std::int16_t> left(4410);
  for (std::int16_t& sample : left) {
    std::int16_t frame[2] = {};
    in.read(reinterpret_cast<char*>(frame), sizeof frame);
    sample = frame[0];
  }
  EXPECT_GT(ToneLevel(left, kTone[0]), 0.08) << "ALSA was not given the disc";
}

TEST_F(SoundOutput, MixerSeesTheProgramAndTheMusicRole) {
  startServer();
  open();
  device_->Device_Play();
  ASSERT_TRUE(hears(kTone[0]));
  const std::string inputs = sound_.sinkInputs();
  EXPECT_NE(inputs.find("application.name = \"Zarn's CDPlayer\""), std::string::npos) << inputs;
  EXPECT_NE(inputs.find("application.icon_name = \"zarncd\""), std::string::npos) << inputs;
  EXPECT_NE(inputs.find("media.role = \"music\""), std::string::npos) << inputs;
}

}  // namespace
