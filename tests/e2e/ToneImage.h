#pragma once
// Test discs whose every track sounds a tone of its own, and the checks that tell from a
// recording which of them was heard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/Servers.h"

struct ToneTrack {
  double seconds = 2;
  double hz = 440;    // the tone; with toHz, the start of a rising sweep
  double toHz = 0;    // a sweep from hz to toHz over the track, so that the time is audible
  bool data = false;  // a data track (MODE1/2352) whose bytes would sound as the tone
};

// Writes dir/name.cue and dir/name.bin; returns the path of the CUE sheet.
std::string WriteToneImage(const std::string& dir, const std::string& name,
                           const std::vector<ToneTrack>& tracks);

// Amplitude (1 = full scale) of the hz component of samples.
double ToneLevel(const std::vector<std::int16_t>& samples, double hz);
// Root mean square level (1 = full scale).
double Rms(const std::vector<std::int16_t>& samples);

constexpr double kHeard = 0.08;  // a tone at half scale measures about 0.5

// A test with a sound server of its own, whose monitor tells what was heard.
class Listening : public ::testing::Test {
 protected:
  bool listen() {
    std::string error;
    if (sound_.start(&error)) return true;
    ADD_FAILURE() << error;
    return false;
  }
  // The last 100 ms recorded.
  std::vector<std::int16_t> latest() const { return sound_.left(sound_.frames() - 4410, 4410); }
  bool hears(double hz) const {
    return testsupport::WaitFor([&] { return ToneLevel(latest(), hz) > kHeard; },
                                std::chrono::seconds(15));
  }
  bool quiets(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const {
    return testsupport::WaitFor([&] { return Rms(latest()) < 0.01; }, deadline);
  }

  testsupport::TempDir dir_;  // the images, outliving whatever plays them
  testsupport::SoundServer sound_;
};
