#pragma once
// Servers the end-to-end tests start as their own children (PulseAudio, Xvfb, a session bus).
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <QRect>

namespace testsupport {

// A child process; killed (and reaped) when stopped or destroyed.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    if (this != &other) stop(), pid_ = std::exchange(other.pid_, -1);
    return *this;
  }
  ~ChildProcess() { stop(); }
  // argv[0] from PATH, with extra "NAME=value" entries, stdout to stdoutPath or nowhere.
  static ChildProcess Start(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env = {},
                            const std::string& stdoutPath = {});
  bool running();
  // The exit status of a child that ends within `patience` (events delivered meanwhile), -1 when
  // it did not exit by itself, -2 when it is still running.
  int wait(std::chrono::milliseconds patience = std::chrono::minutes(5));
  pid_t pid() const { return pid_; }
  void stop();  // SIGTERM, then SIGKILL if it lingers
  void kill();  // SIGKILL at once, as a crash would

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// A fresh directory (mode 700) removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void PollPause();  // 10 ms, delivering Qt's events if there is an application
template <typename Ready>
bool WaitFor(Ready ready, std::chrono::milliseconds deadline) {
  for (const auto end = std::chrono::steady_clock::now() + deadline;; PollPause()) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
  }
}

std::string Slurp(const std::string& path);
std::string Output(const std::string& command);  // what a shell command prints on stdout
// A copy of the program in dir, beside which it keeps its settings; returns its path.
std::string CopyProgram(const TempDir& dir);
// A session bus of the test's own; its address once it listens, or "" on failure.
std::string StartBus(const TempDir& dir, ChildProcess& bus);
// An X server on a free display number; its display, or "" when it did not start.
std::string StartXServer(const TempDir& dir, ChildProcess& server);

// A test disc track sounding a tone, or a sweep from hz to toHz that makes the time audible, or a
// data track (MODE1/2352) whose bytes would sound as the tone.
struct ToneTrack {
  double seconds = 2, hz = 440, toHz = 0;
  bool data = false;
};
// Writes dir/name.cue and dir/name.bin; returns the path of the CUE sheet.
std::string WriteToneImage(const std::string& dir, const std::string& name,
                           const std::vector<ToneTrack>& tracks);
double ToneLevel(const std::vector<std::int16_t>& samples, double hz);  // 1 = full scale
double Rms(const std::vector<std::int16_t>& samples);                   // 1 = full scale
constexpr double kHeard = 0.08;  // a tone at half scale measures about 0.5
// The left channel of frames [from, from + count) of raw s16le stereo, as far as the file holds.
std::vector<std::int16_t> LeftChannel(const std::string& path, std::int64_t from,
                                      std::int64_t count);

// PulseAudio with one null sink, kept awake by a silent stream so that sound reaches its monitor
// at once, and the monitor recorded as raw s16le stereo 44.1 kHz.
class SoundServer {
 public:
  ~SoundServer() { stop(); }
  // (Re)starts it and points this process's clients at it; returns what went wrong, or "".
  std::string start();
  void stop();
  void kill() { server_.kill(); }
  void terminate() { server_.stop(); }  // a server that shuts down in order
  // A hung server's socket still takes connections that nobody answers.
  void hang();
  void wake();
  std::string address() const { return "unix:" + dir_.path() + "/pulse/native"; }
  std::vector<std::string> clientEnv() const;
  std::int64_t frames() const;  // recorded since the last start
  std::vector<std::int16_t> left(std::int64_t from, std::int64_t count) const {
    return LeftChannel(dir_.file("monitor.raw"), from, count);
  }
  std::vector<std::int16_t> latest() const { return left(frames() - 4410, 4410); }  // 100 ms
  bool hears(double hz) const;
  bool quiets(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

 private:
  TempDir dir_;
  ChildProcess server_, keepAwake_, recorder_;
};

std::vector<std::string> WindowsOf(pid_t pid);  // as xdotool finds them
// A text property of a window as xprop shows it, without the quotes; "(unset)" when missing.
std::string WindowProperty(const std::string& window, const std::string& name);
// The client area of a mapped window in screen coordinates; empty while unmapped.
QRect ClientRect(const std::string& window);
// The client area grown by the frame the window manager reports.
QRect OuterRect(const std::string& window);

}  // namespace testsupport
