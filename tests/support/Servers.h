#pragma once
// Servers that end-to-end tests start for themselves: a private PulseAudio with a null sink
// (and a recorder of its monitor), and an Xvfb. Each runs as a child of the test process, on
// a private runtime directory, and is stopped by its process id.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A child process; killed (and reaped) when stopped or destroyed.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ~ChildProcess() { stop(); }

  // Starts argv[0] (searched in PATH) with extra environment entries ("NAME=value"), its
  // standard output going to stdoutPath when not empty (else to /dev/null).
  static ChildProcess Start(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env = {},
                            const std::string& stdoutPath = {});
  bool running();
  // Waits for the exit; the exit status, or -1 when it did not exit normally.
  int wait();
  pid_t pid() const { return pid_; }
  // SIGTERM, then SIGKILL if it lingers; always reaps.
  void stop();
  // SIGKILL at once, as a crash would.
  void kill();

 private:
  pid_t pid_ = -1;
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

// Sleeps one polling step (10 ms) while letting Qt deliver events if an application exists.
void PollPause();

// Polls until ready() or the deadline; true when ready.
template <typename Ready>
bool WaitFor(Ready ready, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    PollPause();
  }
}

// PulseAudio with one null sink named "zarncd_test".
class SoundServer {
 public:
  SoundServer() = default;
  ~SoundServer() { stop(); }
  // Starts the server and waits until it answers. On success, sets PULSE_SERVER in this
  // process's environment so that later clients (Qt among them) connect to it.
  bool start(std::string* error = nullptr);
  void stop();
  void kill() { server_.kill(); }
  bool running() { return server_.running(); }
  // A silent stream that keeps the sink awake, so the first sound after silence reaches the
  // monitor within tens of milliseconds instead of hundreds.
  bool keepAwake();
  std::string address() const { return "unix:" + dir_.path() + "/pulse/native"; }
  std::string sink() const { return "zarncd_test"; }
  std::vector<std::string> clientEnv() const;

 private:
  TempDir dir_;
  ChildProcess server_;
  ChildProcess keepAwake_;
};

// Records the sink's monitor as raw s16le stereo 44.1 kHz into a file.
class MonitorRecorder {
 public:
  static constexpr int kRate = 44100;
  bool start(const SoundServer& server, const std::string& path);
  void stop() { recorder_.stop(); }
  // Frames recorded so far.
  std::int64_t frames() const;
  // The left channel of frames [from, from + count), as far as recorded.
  std::vector<std::int16_t> left(std::int64_t from, std::int64_t count) const;

 private:
  std::string path_;
  ChildProcess recorder_;
};

// An X server on a free display number.
class XServer {
 public:
  ~XServer() { stop(); }
  bool start(std::string* error = nullptr);
  void stop() { server_.stop(); }
  std::string display() const { return ":" + std::to_string(number_); }

 private:
  ChildProcess server_;
  int number_ = -1;
};

}  // namespace testsupport
