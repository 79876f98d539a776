#pragma once
// PCM from a ring buffer to the sound server: 44.1 kHz, 2 channels, 16-bit, through libpulse's
// asynchronous API on its own threaded main loop, so a busy GUI thread never starves it. One
// connection and one playback stream serve the whole life of the open device: Stop corks and
// flushes it, Play flushes and uncorks it, so no command ever builds or tears down a stream.
// When no server takes the connection, ALSA's default device plays, if it opens; without
// either, or when the server goes away or takes the connection and never answers, a silent
// real-time clock takes the data instead, so the position and the end of the disc keep working.
// The clock keeps looking for the server and hands the playback back to it once it answers.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "playback/PcmRing.h"

class PulseEngine;

// Thread contract: the constructor, start(), stop() and the destructor are called from one
// thread at a time (the driver's commands); framesPlayed(), finished() and silent() from any
// thread except the output's own; the kicker from any thread, even after the output is gone.
// Everything else runs on the main loop's thread, or on a caller's thread holding the main
// loop's lock. Lock order: the kicker's gate, then the main loop's lock. No caller ever waits
// for the server: the main loop's lock is never held while waiting for it, and connecting,
// handing a playback to the server and falling back from it all happen on the main loop's
// thread as the server answers (or does not).
class AudioOutput {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kBytesPerFrame = 4;

  // With useSoundServer false the output is always the silent clock.
  explicit AudioOutput(bool useSoundServer = true);
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Starts taking frames from ring; the count of played frames restarts at 0. Returns at once:
  // the first frame is taken once the server is ready (or found missing, or given up on).
  void start(std::shared_ptr<PcmRing> ring);
  // Stops taking frames; when it returns, the played count no longer moves.
  void stop();
  // Frames heard since the last start (taken by the silent clock when there is no sound).
  std::int64_t framesPlayed() const;
  // The ring was finished and its last frame has been played.
  bool finished() const;
  // Whether the current session runs on the silent clock (false once stopped, and while the
  // server is still being asked).
  bool silent() const;
  // Tells the output, from any thread, that new data is in the ring (feeds a stream that ran
  // dry). Safe to call after the output is gone: it then does nothing.
  std::function<void()> kicker() const;

  struct Gate {
    std::mutex mutex;
    PulseEngine* engine = nullptr;  // null once the output is gone
  };

 private:
  std::unique_ptr<PulseEngine> engine_;
  std::shared_ptr<Gate> gate_;
};
