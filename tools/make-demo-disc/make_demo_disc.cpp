// Writes the demo disc: a CUE/BIN image of seven short pieces of synthesized music, each with
// its own instrument, key and tempo, so that a listener tells the tracks apart at once.
//
//   make-demo-disc OUTPUT_DIR      writes OUTPUT_DIR/demo.cue and OUTPUT_DIR/demo.bin
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kFramesPerSector = 588;
constexpr double kPi = 3.14159265358979323846;

struct Track {
  std::vector<float> left, right;
  explicit Track(double seconds)
      : left(static_cast<std::size_t>(seconds * kRate)),
        right(static_cast<std::size_t>(seconds * kRate)) {}
  std::size_t size() const { return left.size(); }

  // Adds a voice from `at` seconds; pan -1 (left) to 1 (right).
  void add(double at, double seconds, double pan, const std::function<double(double)>& voice) {
    const auto start = static_cast<std::size_t>(at * kRate);
    const auto count = static_cast<std::size_t>(seconds * kRate);
    const double l = std::sqrt((1 - pan) / 2), r = std::sqrt((1 + pan) / 2);
    for (std::size_t i = 0; i < count && start + i < size(); ++i) {
      const double v = voice(static_cast<double>(i) / kRate);
      left[start + i] += static_cast<float>(v * l);
      right[start + i] += static_cast<float>(v * r);
    }
  }
};

double noteHz(int midi) {
  return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// Attack-decay envelope with a release at the end of the note.
double envelope(double t, double length, double attack, double decay) {
  const double a = t < attack ? t / attack : std::exp(-(t - attack) / decay);
  const double release = std::min(1.0, (length - t) / 0.02);
  return a * std::max(0.0, release);
}

std::uint32_t noiseState = 0x12345678u;
double noise() {
  noiseState = noiseState * 1664525u + 1013904223u;
  return static_cast<double>(noiseState >> 8) / (1 << 23) - 1.0;
}

// The instruments.
auto softSine(double hz, double len) {
  return [=](double t) { return 0.30 * envelope(t, len, 0.08, 1.2) * std::sin(2 * kPi * hz * t); };
}
auto squareLead(double hz, double len) {
  return [=](double t) {
    double v = 0;
    for (int k = 1; k <= 9; k += 2) v += std::sin(2 * kPi * hz * k * t) / k;
    return 0.16 * envelope(t, len, 0.01, 0.35) * v;
  };
}
auto bass(double hz, double len) {
  return [=](double t) {
    const double v = std::sin(2 * kPi * hz * t) + 0.4 * std::sin(4 * kPi * hz * t);
    return 0.22 * envelope(t, len, 0.005, 0.25) * v;
  };
}
auto bell(double hz, double len) {
  return [=](double t) {
    const double index = 3.0 * std::exp(-t * 2.0);
    return 0.20 * envelope(t, len, 0.002, 1.5) *
           std::sin(2 * kPi * hz * t + index * std::sin(2 * kPi * hz * 3.5 * t));
  };
}
auto organ(double hz, double len) {
  return [=](double t) {
    const double v = std::sin(2 * kPi * hz * t) + 0.5 * std::sin(4 * kPi * hz * t) +
                     0.3 * std::sin(6 * kPi * hz * t) + 0.2 * std::sin(8 * kPi * hz * t);
    const double swell = std::min(1.0, t / 0.15) * std::min(1.0, (len - t) / 0.1);
    return 0.07 * std::max(0.0, swell) * v * (1 + 0.05 * std::sin(2 * kPi * 5.5 * t));
  };
}
auto triangle(double hz, double len) {
  return [=](double t) {
    const double phase = std::fmod(hz * t, 1.0);
    const double v = phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase;
    return 0.20 * envelope(t, len, 0.003, 0.12) * v;
  };
}
// A plucked string: a burst of noise through a delay line that loses its highs.
std::function<double(double)> pluck(double hz, double len) {
  const auto period = static_cast<std::size_t>(kRate / hz);
  auto line = std::make_shared<std::vector<double>>(period);
  for (double& s : *line) s = noise();
  auto samples = std::make_shared<std::vector<double>>();
  const auto total = static_cast<std::size_t>(len * kRate) + 1;
  samples->reserve(total);
  for (std::size_t i = 0; i < total; ++i) {
    const std::size_t at = i % period;
    const double out = (*line)[at];
    (*line)[at] = 0.996 * 0.5 * (out + (*line)[(at + 1) % period]);
    samples->push_back(out);
  }
  return [=](double t) {
    const auto i = std::min(samples->size() - 1, static_cast<std::size_t>(t * kRate));
    return 0.35 * (*samples)[i] * std::min(1.0, (len - t) / 0.02);
  };
}
auto kick(double len) {
  return [=](double t) {
    return 0.6 * std::exp(-t * 18) * std::sin(2 * kPi * (50 + 90 * std::exp(-t * 30)) * t) *
           std::min(1.0, (len - t) / 0.01);
  };
}
auto snare(double len) {
  return [=](double t) {
    return (0.25 * noise() + 0.15 * std::sin(2 * kPi * 190 * t)) * std::exp(-t * 22) *
           std::min(1.0, (len - t) / 0.01);
  };
}
auto hat(double len) {
  return [=](double t) {
    return 0.08 * noise() * std::exp(-t * 70) * std::min(1.0, (len - t) / 0.005);
  };
}

// Each piece: melody notes as MIDI numbers (0 is a rest) on a beat grid.
Track prelude() {  // slow C major arpeggios
  Track tr(24);
  const int chords[4][4] = {{60, 64, 67, 72}, {57, 60, 64, 69}, {53, 57, 60, 65}, {55, 59, 62, 67}};
  const double beat = 0.5;
  for (int bar = 0; bar < 12; ++bar)
    for (int i = 0; i < 4; ++i) {
      const double at = (bar * 4 + i) * beat;
      tr.add(at, 2.0, -0.5 + i * 0.33, softSine(noteHz(chords[bar % 4][i]), 2.0));
    }
  return tr;
}

Track march() {  // square lead over a walking bass in G, brisk
  Track tr(26);
  const int melody[] = {67, 71, 74, 71, 72, 76, 74, 0, 71, 69, 67, 69, 71, 74, 67, 0};
  const int bassLine[] = {43, 47, 50, 47, 48, 52, 50, 45};
  const double beat = 60.0 / 132;
  for (int bar = 0; bar * 16 * beat / 2 < 25; ++bar) {
    for (int i = 0; i < 16; ++i)
      if (melody[i])
        tr.add((bar * 16 + i) * beat / 2, beat / 2 * 0.9, 0.2,
               squareLead(noteHz(melody[i]), beat / 2 * 0.9));
    for (int i = 0; i < 8; ++i)
      tr.add((bar * 8 + i) * beat, beat * 0.9, -0.3, bass(noteHz(bassLine[i]), beat * 0.9));
  }
  return tr;
}

Track folk() {  // plucked strings in A minor, in three
  Track tr(22);
  const int melody[] = {69, 72, 76, 74, 72, 71, 69, 64, 67, 71, 69, 0};
  const double beat = 60.0 / 100;
  for (int n = 0; n * beat / 2 < 21; ++n) {
    const int note = melody[n % 12];
    if (note) tr.add(n * beat / 2, 1.2, 0.3, pluck(noteHz(note), 1.2));
    if (n % 6 == 0) tr.add(n * beat / 2, 2.5, -0.4, pluck(noteHz(45), 2.5));
  }
  return tr;
}

Track bells() {  // FM bells on a pentatonic scale
  Track tr(18);
  const int scale[] = {72, 74, 76, 79, 81, 84, 86, 88};
  int step = 3;
  for (int n = 0; n * 0.375 < 17; ++n) {
    step = (step + (n % 3 == 0 ? 3 : 5)) % 8;
    tr.add(n * 0.375, 2.2, (step - 3.5) / 4.0, bell(noteHz(scale[step]), 2.2));
  }
  return tr;
}

Track groove() {  // drums and a bass riff in E
  Track tr(24);
  const double beat = 60.0 / 104;
  const int riff[] = {40, 0, 40, 43, 0, 45, 47, 45};
  for (int n = 0; n * beat / 2 < 23.5; ++n) {
    const double at = n * beat / 2;
    if (n % 4 == 0) tr.add(at, 0.4, 0, kick(0.4));
    if (n % 4 == 2) tr.add(at, 0.25, 0.1, snare(0.25));
    tr.add(at, 0.08, 0.5, hat(0.08));
    if (riff[n % 8]) tr.add(at, beat / 2 * 0.95, -0.2, bass(noteHz(riff[n % 8]), beat / 2 * 0.95));
  }
  return tr;
}

Track hymn() {  // organ chords, slow, in F
  Track tr(30);
  const int chords[6][3] = {{53, 57, 60}, {58, 62, 65}, {55, 60, 64},
                            {53, 57, 62}, {55, 58, 62}, {53, 57, 60}};
  for (int c = 0; c * 2.4 < 29.5; ++c)
    for (int v = 0; v < 3; ++v)
      tr.add(c * 2.4, 2.35, -0.4 + v * 0.4, organ(noteHz(chords[c % 6][v]), 2.35));
  return tr;
}

Track arcade() {  // fast triangle arpeggios in D
  Track tr(16);
  const int arps[4][4] = {{62, 66, 69, 74}, {59, 62, 66, 71}, {55, 59, 62, 67}, {57, 61, 64, 69}};
  const double step = 60.0 / 150 / 4;
  for (int n = 0; n * step < 15.8; ++n) {
    const int note = arps[(n / 16) % 4][n % 4] + (n % 8 >= 4 ? 12 : 0);
    tr.add(n * step, step * 0.95, std::sin(n * 0.3) * 0.6, triangle(noteHz(note), step * 0.95));
  }
  return tr;
}

std::string twoDigits(std::size_t n) {
  return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string msf(std::size_t sectors) {
  return twoDigits(sectors / 4500) + ":" + twoDigits(sectors / 75 % 60) + ":" +
         twoDigits(sectors % 75);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-demo-disc OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<Track> tracks = {prelude(), march(), folk(),  bells(),
                                     groove(),  hymn(),  arcade()};
  // The disc's own names, all made up here: written as the sheet's TITLE and PERFORMER lines (in
  // UTF-8), which is where a burner takes a disc's CD-Text from, so a first start already shows
  // a named disc. One title is Japanese; one track has a guest performer, as on a compilation.
  const char* titles[] = {"Prelude", "March", "Folk Tune", "鐘の歌", "Groove", "Hymn", "Arcade"};
  const char* performers[] = {"", "", "", "", "", "", "Pixel Choir"};

  std::ofstream bin(dir + "/demo.bin", std::ios::binary);
  std::ofstream cue(dir + "/demo.cue");
  cue << "PERFORMER \"Zarn's Demo Band\"\nTITLE \"Seven Small Pieces\"\nFILE \"demo.bin\" BINARY\n";
  std::size_t sector = 0;
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const Track& tr = tracks[t];
    cue << "  TRACK " << twoDigits(t + 1) << " AUDIO\n    TITLE \"" << titles[t] << "\"\n";
    if (*performers[t]) cue << "    PERFORMER \"" << performers[t] << "\"\n";
    cue << "    INDEX 01 " << msf(sector) << "\n";
    const std::size_t sectors = (tr.size() + kFramesPerSector - 1) / kFramesPerSector;
    std::vector<char> pcm(sectors * kFramesPerSector * 4, 0);
    for (std::size_t i = 0; i < tr.size(); ++i) {
      const float samples[2] = {tr.left[i], tr.right[i]};
      for (int c = 0; c < 2; ++c) {
        const auto v =
            static_cast<std::int16_t>(std::lround(std::clamp(samples[c], -1.0f, 1.0f) * 32767));
        pcm[i * 4 + c * 2] = static_cast<char>(v & 0xFF);
        pcm[i * 4 + c * 2 + 1] = static_cast<char>((v >> 8) & 0xFF);
      }
    }
    bin.write(pcm.data(), static_cast<std::streamsize>(pcm.size()));
    sector += sectors;
  }
  if (!bin || !cue) {
    std::fprintf(stderr, "make-demo-disc: cannot write the image into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
