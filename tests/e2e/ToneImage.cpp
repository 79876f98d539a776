#include "ToneImage.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

namespace {
constexpr int kRate = 44100;
constexpr int kFramesPerSector = 588;
}  // namespace

std::string WriteToneImage(const std::string& dir, const std::string& name,
                           const std::vector<ToneTrack>& tracks) {
  std::ofstream bin(dir + "/" + name + ".bin", std::ios::binary);
  std::ofstream cue(dir + "/" + name + ".cue");
  cue << "FILE \"" << name << ".bin\" BINARY\n";
  std::size_t sector = 0;
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const ToneTrack& track = tracks[t];
    char line[160];
    std::snprintf(line, sizeof line, "  TRACK %02zu %s\n    INDEX 01 %02zu:%02zu:%02zu\n", t + 1,
                  track.data ? "MODE1/2352" : "AUDIO", sector / 4500, sector / 75 % 60,
                  sector % 75);
    cue << line;
    const auto sectors = static_cast<std::size_t>(std::lround(track.seconds * 75));
    const std::size_t frames = sectors * kFramesPerSector;
    std::vector<char> pcm(frames * 4);
    for (std::size_t i = 0; i < frames; ++i) {
      const double s = static_cast<double>(i) / kRate;
      const double sweep = track.toHz > 0 ? (track.toHz - track.hz) / track.seconds : 0;
      const double phase = 2 * std::numbers::pi * (track.hz * s + sweep * s * s / 2);
      const auto v = static_cast<std::int16_t>(std::lround(0.5 * 32767 * std::sin(phase)));
      for (int c = 0; c < 2; ++c) {
        pcm[i * 4 + c * 2] = static_cast<char>(v & 0xFF);
        pcm[i * 4 + c * 2 + 1] = static_cast<char>((v >> 8) & 0xFF);
      }
    }
    bin.write(pcm.data(), static_cast<std::streamsize>(pcm.size()));
    sector += sectors;
  }
  return dir + "/" + name + ".cue";
}

double ToneLevel(const std::vector<std::int16_t>& samples, double hz) {
  if (samples.empty()) return 0;
  // Goertzel: one bin of the DFT, without computing the others.
  const double w = 2 * std::numbers::pi * hz / kRate;
  const double coeff = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::int16_t x : samples) {
    const double s0 = x / 32768.0 + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

double Rms(const std::vector<std::int16_t>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (std::int16_t x : samples) sum += (x / 32768.0) * (x / 32768.0);
  return std::sqrt(sum / static_cast<double>(samples.size()));
}
