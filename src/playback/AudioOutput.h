#pragma once
// PCM from a ring buffer to the sound server: 44.1 kHz, 2 channels, 16-bit, through QAudioSink
// in pull mode on a thread of its own, so a busy GUI thread never starves it. Without a sound
// server, or when the server goes away, a silent real-time clock takes the data instead, so
// the position and the end of the disc keep working.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "playback/PcmRing.h"

class QThread;
class AudioWorker;

// Thread contract: the constructor, start(), stop() and the destructor are called from one
// thread at a time (the driver's commands); framesPlayed(), finished() and silent() from any
// thread; the kicker from any thread, even after the output is gone. Everything else runs on
// the output's own thread. The destructor waits a bounded time for that thread to end.
class AudioOutput {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kBytesPerFrame = 4;

  // With useSoundServer false the output is always the silent clock.
  explicit AudioOutput(bool useSoundServer = true);
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Starts taking frames from ring; the count of played frames restarts at 0. Returns at once.
  void start(std::shared_ptr<PcmRing> ring);
  // Stops taking frames; when it returns, the played count no longer moves.
  void stop();
  // Frames heard since the last start (taken by the silent clock when there is no sound).
  std::int64_t framesPlayed() const { return state_->played.load(std::memory_order_acquire); }
  // The ring was finished and its last frame has been played.
  bool finished() const { return state_->finished.load(std::memory_order_acquire); }
  // Whether the current session runs on the silent clock (false once stopped).
  bool silent() const { return state_->silent.load(std::memory_order_acquire); }
  // Tells the output, from any thread, that new data is in the ring (wakes a sink that ran
  // dry). Safe to call after the output is gone: it then does nothing.
  std::function<void()> kicker() const;

  struct State {
    std::atomic<std::int64_t> played{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> silent{false};
    std::mutex gate;  // guards worker against the output's destruction
    AudioWorker* worker = nullptr;
  };

 private:
  void ensureThread();

  bool useSoundServer_;
  std::shared_ptr<State> state_;
  QThread* thread_ = nullptr;
  AudioWorker* worker_ = nullptr;
};
