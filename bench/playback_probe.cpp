// The playback engine measured from outside: bench/playback.sh runs this probe against a
// private sound server and compares it with a reference media player.
//
//   bench_playback_probe --play IMAGE SECONDS    plays IMAGE from its start for SECONDS
//   bench_playback_probe --wav IMAGE OUT.wav     writes the image's audio as a WAV file
//   bench_playback_probe --latency DIR N         medians of N Play -> first sound and
//                                                 N Next -> new track heard, on a disc of tones
//                                                 written into DIR (needs the script's server)
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cdio/cdio.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "device/CdAudioDevice.h"
#include "playback/CdioDriver.h"
#include "playback/DriveIo.h"
#include "device/Tmsf.h"

extern char** environ;

namespace {

constexpr int kRate = 44100;

// Lets events run for ms, asleep in the event loop as the player is between its clock's ticks:
// waking every few milliseconds to look would cost more than the playback being measured.
void runEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

std::unique_ptr<CdAudioDevice> openImage(const std::string& image) {
  auto player = std::make_unique<CdAudioDevice>(std::make_unique<CdioDriver>(image));
  player->Device_Open();
  player->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  return player;
}

int play(const std::string& image, int seconds) {
  auto driver = std::make_unique<CdioDriver>(image);
  CdioDriver* cdio = driver.get();
  auto player = std::make_unique<CdAudioDevice>(std::move(driver));
  player->Device_Open();
  player->Device_Set_Time_Format(mci::MCI_FORMAT_TMSF);
  player->Device_Play();
  // Like the player's own clock: a look at the device five times a second.
  for (int i = 0; i < seconds * 5; ++i) {
    runEvents(200);
    player->Device_Mode();
    player->Device_Position();
  }
  const std::uint32_t at = player->Device_Position();
  const bool silent = cdio->isSilent();
  // The memory the program itself holds while playing; the shared libraries are not its own.
  long anonKb = -1;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("RssAnon:")) anonKb = std::atol(line.c_str() + 8);
  player.reset();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("cpu_seconds=%.2f peak_rss_kb=%ld rss_anon_kb=%ld position=%d:%02d:%02d sound=%s\n",
              usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
              usage.ru_maxrss, anonKb, tmsf::Track(at), tmsf::Minutes(at), tmsf::Seconds(at),
              silent ? "silent" : "server");
  return 0;
}

int writeWav(const std::string& image, const std::string& out) {
  std::string why;
  CdIo_t* cdio = OpenCdioImage(image, &why);
  if (!cdio) {
    std::fprintf(stderr, "%s: %s\n", image.c_str(), why.c_str());
    return 1;
  }
  auto toc = ReadCdioToc(cdio);
  if (!toc) return 1;
  const auto sectors = static_cast<std::uint32_t>(toc->leadout - toc->tracks.front().lsn);
  const std::uint32_t bytes = sectors * kBytesPerSector;
  std::ofstream wav(out, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
  wav.write("RIFF", 4);
  u32(36 + bytes);
  wav.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(kRate);
  u32(kRate * 4);
  u16(4);
  u16(16);
  wav.write("data", 4);
  u32(bytes);
  std::vector<char> buffer(75 * kBytesPerSector);
  for (std::uint32_t s = 0; s < sectors; s += 75) {
    const std::uint32_t n = std::min<std::uint32_t>(75, sectors - s);
    if (cdio_read_audio_sectors(cdio, buffer.data(), toc->tracks.front().lsn + s, n) != 0)
      std::memset(buffer.data(), 0, buffer.size());
    wav.write(buffer.data(), static_cast<std::streamsize>(n) * kBytesPerSector);
  }
  cdio_destroy(cdio);
  return wav ? 0 : 1;
}

// The sink's monitor, read in 10 ms blocks as they arrive; each block is judged on arrival.
class Listener {
 public:
  Listener() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const char* args[] = {
        "parec",        "-d",           "zarncd_bench.monitor", "--raw", "--format=s16le",
        "--rate=44100", "--channels=2", "--latency-msec=5",     nullptr};
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, const_cast<char**>(args), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    pipe_ = ::fdopen(fds[0], "r");
    if (pid_ > 0 && pipe_) thread_ = std::thread([this] { run(); });
  }
  ~Listener() {
    stop_ = true;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (thread_.joinable()) thread_.join();
    if (pipe_) std::fclose(pipe_);
  }
  bool ok() const { return pid_ > 0 && pipe_ != nullptr; }

  // Blocks arrived since `since` (a clock reading), with their arrival times.
  struct Block {
    qint64 arrivedNs;
    std::vector<std::int16_t> left;
  };
  std::vector<Block> since(qint64 ns) {
    std::lock_guard lock(mutex_);
    std::vector<Block> out;
    for (const Block& b : blocks_)
      if (b.arrivedNs >= ns) out.push_back(b);
    return out;
  }
  qint64 now() const { return clock_.nsecsElapsed(); }

 private:
  void run() {
    clock_.start();
    std::vector<std::int16_t> frame(441 * 2);
    while (!stop_) {
      const std::size_t got = std::fread(frame.data(), 4, 441, pipe_);
      if (got == 0) break;
      Block block{now(), {}};
      for (std::size_t i = 0; i < got; ++i) block.left.push_back(frame[i * 2]);
      std::lock_guard lock(mutex_);
      blocks_.push_back(std::move(block));
      if (blocks_.size() > 3000) blocks_.erase(blocks_.begin(), blocks_.begin() + 1000);
    }
  }

  pid_t pid_ = -1;
  FILE* pipe_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Block> blocks_;
  QElapsedTimer clock_;
};

double level(const std::vector<std::int16_t>& s, double hz) {
  const double w = 2 * std::numbers::pi * hz / kRate, c = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::int16_t x : s) {
    const double s0 = x / 32768.0 + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) /
         static_cast<double>(s.size());
}

double rms(const std::vector<std::int16_t>& s) {
  double sum = 0;
  for (std::int16_t x : s) sum += (x / 32768.0) * (x / 32768.0);
  return s.empty() ? 0 : std::sqrt(sum / static_cast<double>(s.size()));
}

// Milliseconds from `from` until a block satisfying `heard` arrives; -1 after 5 s.
template <typename Heard>
double waitHeard(Listener& ear, qint64 from, Heard heard) {
  QElapsedTimer limit;
  limit.start();
  while (limit.elapsed() < 5000) {
    for (const auto& b : ear.since(from))
      if (heard(b.left)) return (b.arrivedNs - from) / 1e6;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

double toneOf(int track) {
  return 400.0 + 250.0 * (track - 1);
}

// A disc of tracks that each sound their own tone, so the ear can tell which one plays.
std::string writeToneDisc(const std::string& dir, int tracks) {
  const std::string cue = dir + "/tones.cue";
  std::ofstream sheet(cue);
  std::ofstream bin(dir + "/tones.bin", std::ios::binary);
  sheet << "FILE \"tones.bin\" BINARY\n";
  constexpr int kSectors = 4 * 75;
  std::vector<std::int16_t> pcm(kSectors * 588 * 2);
  for (int t = 1; t <= tracks; ++t) {
    const int at = (t - 1) * kSectors;
    char line[96];
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n", t,
                  at / 4500, at / 75 % 60, at % 75);
    sheet << line;
    for (std::size_t i = 0; i < pcm.size() / 2; ++i)
      pcm[i * 2] = pcm[i * 2 + 1] = static_cast<std::int16_t>(
          16000 * std::sin(2 * std::numbers::pi * toneOf(t) * static_cast<double>(i) / kRate));
    bin.write(reinterpret_cast<const char*>(pcm.data()),
              static_cast<std::streamsize>(pcm.size() * 2));
  }
  return cue;
}

int latency(const std::string& dir, int rounds) {
  Listener ear;
  if (!ear.ok()) return 1;
  auto player = openImage(writeToneDisc(dir, rounds + 1));
  runEvents(500);
  std::vector<double> play, next;
  for (int i = 0; i < rounds; ++i) {
    player->Device_Stop();
    player->Device_Seek(tmsf::TrackStart(1));
    // Silence first, so that the sound measured is the new one.
    waitHeard(ear, ear.now(), [](const auto& s) { return rms(s) < 0.005; });
    runEvents(300);
    const qint64 t0 = ear.now();
    player->Device_Play();
    play.push_back(waitHeard(ear, t0, [](const auto& s) { return rms(s) > 0.05; }));
  }
  player->Device_Stop();
  player->Device_Seek(tmsf::TrackStart(1));
  player->Device_Play();
  for (int track = 1; track <= rounds; ++track) {
    waitHeard(ear, ear.now(), [&](const auto& s) { return level(s, toneOf(track)) > 0.15; });
    runEvents(300);
    const qint64 t0 = ear.now();
    player->Device_Set_Wait(true);
    player->Device_Next();
    player->Device_Position();
    player->Device_Set_Wait(false);
    next.push_back(waitHeard(ear, t0, [&](const auto& s) {
      const double now = level(s, toneOf(track + 1));
      return now > 0.15 && now > 3 * level(s, toneOf(track));
    }));
  }
  std::printf("play_to_sound_ms=%.0f next_to_new_track_ms=%.0f\n", median(play), median(next));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("bench_playback_probe: run through bench/playback.sh\n");
    return 0;
  }
  QCoreApplication app(argc, argv);
  const std::string mode = argv[1];
  try {
    if (mode == "--play" && argc == 4) return play(argv[2], std::atoi(argv[3]));
    if (mode == "--wav" && argc == 4) return writeWav(argv[2], argv[3]);
    if (mode == "--latency" && argc == 4) return latency(argv[2], std::atoi(argv[3]));
  } catch (const EMCIDeviceError& e) {
    std::fprintf(stderr, "bench_playback_probe: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "bench_playback_probe: unknown arguments\n");
  return 2;
}
