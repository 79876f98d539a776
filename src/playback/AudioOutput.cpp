#include "playback/AudioOutput.h"

#include <alsa/asoundlib.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "log/Log.h"

namespace {

constexpr char kProgramName[] = "Zarn's CDPlayer";
constexpr char kIconName[] = "zarncd";
constexpr int kTickMs = 20;  // the silent clock's step
// What the stream keeps buffered on the server. A quarter second lets the server wake us about
// 16 times a second (0.5-0.6 CPU-s per 30 s cost the last engine, fed from its own timer).
constexpr std::uint32_t kTargetBytes = AudioOutput::kSampleRate * AudioOutput::kBytesPerFrame / 4;
// Playback starts once this much is on the server (about 50 ms), not a full buffer later.
constexpr std::uint32_t kPrebufBytes = 4 * 588 * AudioOutput::kBytesPerFrame;
// How long a session holds its first frame for the server to take it, before the silent clock
// plays on without it. A local server answers in a few milliseconds; a hung one never does.
constexpr auto kServerPatience = std::chrono::milliseconds(500);
// How often the silent clock looks for a server that has come (back).
constexpr auto kServerRetry = std::chrono::seconds(1);

// What ALSA keeps buffered when it plays in place of a server: as much as on the server.
constexpr unsigned kAlsaLatencyUs = 250000;

std::atomic<bool> silenceReported{false};

void reportSilence() {
  if (!silenceReported.exchange(true))
    qCWarning(lcPlayback, "no sound server; playing on silently");
}

// ALSA says on stderr why each device it tries is missing; on a machine without sound that
// would be said at every Play, and the silent clock already says it once.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

pa_proplist* programProperties() {
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kProgramName);
  pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, kIconName);
  return props;
}

}  // namespace

// The output's state, guarded by the main loop's lock. Callbacks run on the main loop's thread
// with that lock held; the output's callers take it, and never wait for the server under it:
// connecting, and handing a session to the server, happen in callbacks as the server answers.
//
// A session starts Pending: the clock holds while the server is asked where its stream stands.
// The answer makes it a Server session. A server that refuses the connection makes it an ALSA
// session, if ALSA's default device opens; a server that takes the connection and then says
// nothing for kServerPatience makes it a Silent one. A Silent session keeps looking for the
// server, and hands over to it once it answers, so a server woken or restarted is heard again
// without a new start().
class PulseEngine {
 public:
  explicit PulseEngine(bool useSoundServer) : useSoundServer_(useSoundServer) {
    loop_ = pa_threaded_mainloop_new();
    api_ = pa_threaded_mainloop_get_api(loop_);
    pa_threaded_mainloop_set_name(loop_, "audio output");
    pa_threaded_mainloop_start(loop_);
  }

  ~PulseEngine() {
    stop();
    pa_threaded_mainloop_stop(loop_);  // the loop's thread ends; nothing runs callbacks now
    disconnect();
    if (tick_) api_->time_free(tick_);
    pa_threaded_mainloop_free(loop_);
  }

  void start(std::shared_ptr<PcmRing> ring) {
    Locked lock(loop_);
    endSession();
    ring_ = std::move(ring);
    heard_ = taken_ = offset_ = 0;
    finished_ = false;
    if (!useSoundServer_) return beginSilent(0);
    mode_ = Mode::Pending;
    refused_ = false;
    patience_ = std::chrono::steady_clock::now() + kServerPatience;
    scheduleTick(kTickMs);
    connect();
    handOver();
  }

  void stop() {
    Locked lock(loop_);
    endSession();
  }

  std::int64_t played() {
    Locked lock(loop_);
    if (mode_ == Mode::Server && !finished_) listen();
    return heard_;
  }
  bool finished() {
    Locked lock(loop_);
    return finished_;
  }
  bool silent() const { return silent_.load(std::memory_order_acquire); }

  // From the reader's thread: a stream that asked for more than the ring held gets it now.
  void kick() {
    if (!starved_.load(std::memory_order_acquire)) return;
    Locked lock(loop_);
    if (mode_ == Mode::Server) feed(pa_stream_writable_size(stream_));
  }

 private:
  enum class Mode { Idle, Pending, Server, Alsa, Silent };

  struct Locked {
    explicit Locked(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
    ~Locked() { pa_threaded_mainloop_unlock(loop); }
    pa_threaded_mainloop* loop;
  };

  // Starts connecting when there is no connection, or the last one broke. Never waits: the
  // state callbacks carry on from here.
  void connect() {
    if (context_ && (broken_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))) disconnect();
    if (context_) return;
    pa_proplist* props = programProperties();
    context_ = pa_context_new_with_proplist(api_, kProgramName, props);
    pa_proplist_free(props);
    if (!context_) return refused();
    pa_context_set_state_callback(context_, onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      disconnect();
      refused();
    }
  }

  // The connection is up: the one playback stream it serves, corked until a session needs it.
  void openStream() {
    if (stream_) return;
    const pa_sample_spec format{PA_SAMPLE_S16LE, AudioOutput::kSampleRate, 2};
    pa_proplist* props = programProperties();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    pa_proplist_sets(props, PA_PROP_MEDIA_ICON_NAME, kIconName);
    stream_ = pa_stream_new_with_proplist(context_, "CD audio", &format, nullptr, props);
    pa_proplist_free(props);
    if (!stream_) {
      broken_ = true;  // connect afresh at the next look
      return;
    }
    pa_stream_set_state_callback(stream_, onStreamState, this);
    pa_stream_set_write_callback(stream_, onWrite, this);
    const pa_buffer_attr attr{static_cast<std::uint32_t>(-1), kTargetBytes, kPrebufBytes,
                              static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1)};
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
      broken_ = true;
  }

  void disconnect() {
    cancelTiming();
    cancelDrain();
    if (stream_) {
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
      context_ = nullptr;
    }
    broken_ = false;
  }

  // Asks the server where its stream stands, to hand it the session with the answer. The
  // stream was corked and flushed when the last session ended (or has never played): where
  // its read index stands then is where the next frame taken will be heard from.
  void handOver() {
    if ((mode_ != Mode::Pending && mode_ != Mode::Silent) || !ring_ || finished_) return;
    if (timing_ || broken_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    pa_operation_unref(pa_stream_flush(stream_, nullptr, nullptr));
    timing_ = pa_stream_update_timing_info(stream_, onTiming, this);
  }

  // The server answered: from here on it takes the frames, and says what it has played.
  void beginOnServer() {
    if ((mode_ != Mode::Pending && mode_ != Mode::Silent) || !ring_ || finished_) return;
    const pa_timing_info* t = pa_stream_get_timing_info(stream_);
    if (!t) return;
    base_ = t->read_index;
    heard_ = offset_ = taken_;  // what the silent clock took was heard, as far as anyone can
    mode_ = Mode::Server;
    silent_ = false;
    silenceReported = false;
    starved_ = true;
    feed(pa_stream_writable_size(stream_));
    pa_operation_unref(pa_stream_cork(stream_, 0, nullptr, nullptr));
  }

  // Nobody took the connection (or the server went away before it answered): ALSA's default
  // device, fed by the same tick as the silent clock. Never for a server that took the
  // connection and says nothing: on a machine with a server, ALSA's default device is the
  // server's own plugin, which would wait for it without limit.
  bool beginOnAlsa() {
    snd_lib_error_set_handler(quietAlsa);
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                           AudioOutput::kSampleRate, 1, kAlsaLatencyUs) < 0) {
      snd_pcm_close(pcm);
      return false;
    }
    pcm_ = pcm;
    mode_ = Mode::Alsa;
    silenceReported = false;
    scheduleTick(kTickMs);
    return true;
  }

  void alsaTick() {
    snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
    if (room < 0 && snd_pcm_recover(pcm_, static_cast<int>(room), 1) == 0)
      room = snd_pcm_avail_update(pcm_);
    if (room < 0) {  // the device went away
      closeAlsa();
      beginSilent(taken_);
      return;
    }
    const auto frames = std::min<std::size_t>(static_cast<std::size_t>(room),
                                              ring_->available() / AudioOutput::kBytesPerFrame);
    if (frames > 0) {
      scratch_.resize(frames * AudioOutput::kBytesPerFrame);
      ring_->read(scratch_.data(), scratch_.size());
      const snd_pcm_sframes_t wrote = snd_pcm_writei(pcm_, scratch_.data(), frames);
      // Frames the device refused are counted as played, as when a server goes away.
      taken_ += static_cast<std::int64_t>(frames);
      if (wrote < 0) snd_pcm_recover(pcm_, static_cast<int>(wrote), 1);
    }
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) < 0) delay = 0;
    const bool running = snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING;
    if (ring_->drained() && !running && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && taken_ > 0)
      snd_pcm_start(pcm_);  // less than the start threshold was left
    heard_ = std::max(heard_, taken_ - std::max<std::int64_t>(delay, 0));
    if (ring_->drained() && (delay <= 0 || snd_pcm_state(pcm_) == SND_PCM_STATE_XRUN)) {
      heard_ = taken_;
      finished_ = true;
      return;
    }
    scheduleTick(kTickMs);
  }

  void closeAlsa() {
    if (!pcm_) return;
    snd_pcm_drop(pcm_);
    snd_pcm_close(std::exchange(pcm_, nullptr));
  }

  void beginSilent(std::int64_t played) {
    reportSilence();
    mode_ = Mode::Silent;
    silent_ = true;
    heard_ = taken_ = played;
    clockStart_ = lastLook_ = std::chrono::steady_clock::now();
    clockFrames_ = 0;
    scheduleTick(kTickMs);
  }

  void endSession() {
    if (mode_ == Mode::Server) {
      if (!finished_) listen();
      cancelDrain();
      pa_operation_unref(pa_stream_cork(stream_, 1, nullptr, nullptr));
      pa_operation_unref(pa_stream_flush(stream_, nullptr, nullptr));
    }
    cancelTiming();
    if (tick_) api_->time_restart(tick_, nullptr);
    closeAlsa();
    mode_ = Mode::Idle;
    ring_.reset();
    starved_ = false;
    silent_ = false;  // nothing plays now, so nothing plays silently either
  }

  // What the server says it has played of this session: its read index since it took the
  // session over, less what its sink still holds, plus the time since it said so.
  void listen() {
    const pa_timing_info* t = pa_stream_get_timing_info(stream_);
    if (!t || t->read_index_corrupt) return;
    std::int64_t frames =
        offset_ + (t->read_index - base_) / AudioOutput::kBytesPerFrame -
        static_cast<std::int64_t>(t->sink_usec * AudioOutput::kSampleRate / 1000000);
    if (t->playing)
      frames += static_cast<std::int64_t>(pa_timeval_age(&t->timestamp) * AudioOutput::kSampleRate /
                                          1000000);
    heard_ = std::max(heard_, std::min(frames, taken_));
  }

  // Writes up to `bytes` from the ring; once the ring is drained, asks for the end to be heard.
  void feed(std::size_t bytes) {
    if (mode_ != Mode::Server || !ring_) return;
    bytes -= bytes % AudioOutput::kBytesPerFrame;
    std::size_t have = ring_->available();
    have -= have % AudioOutput::kBytesPerFrame;
    std::size_t left = std::min(bytes, have);
    starved_ = left < bytes;
    while (left > 0) {
      void* data = nullptr;
      std::size_t size = left;
      if (pa_stream_begin_write(stream_, &data, &size) < 0 || !data) return;
      size = std::min(size, left);
      size -= size % AudioOutput::kBytesPerFrame;
      if (size == 0) {
        pa_stream_cancel_write(stream_);
        break;
      }
      ring_->read(static_cast<std::byte*>(data), size);
      pa_stream_write(stream_, data, size, nullptr, 0, PA_SEEK_RELATIVE);
      taken_ += static_cast<std::int64_t>(size / AudioOutput::kBytesPerFrame);
      left -= size;
    }
    if (ring_->drained() && !drain_) drain_ = pa_stream_drain(stream_, onDrained, this);
  }

  void cancelDrain() {
    if (!drain_) return;
    pa_operation_cancel(drain_);
    pa_operation_unref(std::exchange(drain_, nullptr));
  }

  void cancelTiming() {
    if (!timing_) return;
    pa_operation_cancel(timing_);
    pa_operation_unref(std::exchange(timing_, nullptr));
  }

  // No server took the connection: a session still waiting for one goes to ALSA instead, at
  // the next tick (on the loop's thread, never on a caller's).
  void refused() {
    if (mode_ != Mode::Pending) return;
    refused_ = true;
    scheduleTick(0);
  }

  // The server went away: play on, silently, from what it had taken, since what it took but
  // never played is lost with it. The silent clock looks for it again.
  void serverLost() {
    broken_ = true;
    cancelTiming();
    if (mode_ == Mode::Pending) return refused();
    if (mode_ != Mode::Server) return;
    cancelDrain();
    beginSilent(taken_);
  }

  void scheduleTick(int ms) {
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(ms) * PA_USEC_PER_MSEC);
    if (tick_)
      api_->time_restart(tick_, &when);
    else
      tick_ = api_->time_new(api_, &when, onTick, this);
  }

  void tick() {
    if (!ring_ || finished_) return;
    if (mode_ == Mode::Alsa) return alsaTick();
    if (mode_ == Mode::Pending) {
      if (refused_) {
        if (!beginOnAlsa()) beginSilent(0);
      } else if (std::chrono::steady_clock::now() >= patience_) {
        beginSilent(0);
      } else {
        scheduleTick(kTickMs);
      }
      return;
    }
    if (mode_ != Mode::Silent) return;
    // The clock owes the frames of the time gone by, but can only play what has been read.
    const auto now = std::chrono::steady_clock::now();
    const std::int64_t due =
        std::chrono::duration_cast<std::chrono::microseconds>(now - clockStart_).count() *
        AudioOutput::kSampleRate / 1000000;
    const std::int64_t owed = std::max<std::int64_t>(due - clockFrames_, 0);
    const auto have = static_cast<std::int64_t>(ring_->available() / AudioOutput::kBytesPerFrame);
    const std::int64_t take = std::min(owed, have);
    ring_->read(nullptr, static_cast<std::size_t>(take) * AudioOutput::kBytesPerFrame);
    heard_ = taken_ += take;
    // Time spent waiting for the reader is not owed later, or the clock would race ahead.
    clockFrames_ = take < owed ? due : clockFrames_ + take;
    if (ring_->drained()) {
      finished_ = true;
      return;
    }
    if (useSoundServer_ && now - lastLook_ >= kServerRetry) {
      lastLook_ = now;
      connect();
      handOver();
    }
    scheduleTick(kTickMs);
  }

  static void onContextState(pa_context* c, void* self) {
    auto* e = static_cast<PulseEngine*>(self);
    const pa_context_state_t s = pa_context_get_state(c);
    if (s == PA_CONTEXT_READY) e->openStream();
    if (!PA_CONTEXT_IS_GOOD(s)) e->serverLost();
  }
  static void onStreamState(pa_stream* s, void* self) {
    auto* e = static_cast<PulseEngine*>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY) e->handOver();
    if (!PA_STREAM_IS_GOOD(state)) e->serverLost();
  }
  static void onTiming(pa_stream*, int success, void* self) {
    auto* e = static_cast<PulseEngine*>(self);
    if (e->timing_) pa_operation_unref(std::exchange(e->timing_, nullptr));
    if (success) e->beginOnServer();  // a failure comes with a state change of its own
  }
  static void onWrite(pa_stream*, std::size_t bytes, void* self) {
    static_cast<PulseEngine*>(self)->feed(bytes);
  }
  static void onDrained(pa_stream*, int success, void* self) {
    auto* e = static_cast<PulseEngine*>(self);
    if (e->drain_) pa_operation_unref(std::exchange(e->drain_, nullptr));
    if (!success || e->mode_ != Mode::Server) return;
    e->heard_ = e->taken_;
    e->finished_ = true;
  }
  static void onTick(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    static_cast<PulseEngine*>(self)->tick();
  }

  const bool useSoundServer_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_mainloop_api* api_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;     // lives as long as context_
  pa_operation* timing_ = nullptr;  // the question whose answer hands a session to the server
  pa_operation* drain_ = nullptr;
  pa_time_event* tick_ = nullptr;
  snd_pcm_t* pcm_ = nullptr;        // ALSA's device while it plays in place of a server
  std::vector<std::byte> scratch_;  // the frames on their way to ALSA
  bool broken_ = false;             // the server went away; connect afresh at the next look

  // The session.
  Mode mode_ = Mode::Idle;
  std::shared_ptr<PcmRing> ring_;
  std::int64_t taken_ = 0;  // frames taken from the ring
  std::int64_t heard_ = 0;  // frames played, never more than taken_
  bool finished_ = false;
  bool refused_ = false;                            // Pending, and nobody took the connection
  std::chrono::steady_clock::time_point patience_;  // when Pending gives up on the server
  std::int64_t base_ = 0;    // the server's read index (bytes) when it took the session over
  std::int64_t offset_ = 0;  // the frames taken before it did
  std::atomic<bool> starved_{false};  // the server asked for more than the ring held
  std::atomic<bool> silent_{false};
  std::chrono::steady_clock::time_point clockStart_;
  std::chrono::steady_clock::time_point lastLook_;  // the silent clock's last look for a server
  std::int64_t clockFrames_ = 0;
};

AudioOutput::AudioOutput(bool useSoundServer)
    : engine_(std::make_unique<PulseEngine>(useSoundServer)), gate_(std::make_shared<Gate>()) {
  gate_->engine = engine_.get();
}

AudioOutput::~AudioOutput() {
  std::lock_guard lock(gate_->mutex);  // waits out a kick in progress; no more kicks after
  gate_->engine = nullptr;
}

void AudioOutput::start(std::shared_ptr<PcmRing> ring) {
  engine_->start(std::move(ring));
}

void AudioOutput::stop() {
  engine_->stop();
}

std::int64_t AudioOutput::framesPlayed() const {
  return engine_->played();
}

bool AudioOutput::finished() const {
  return engine_->finished();
}

bool AudioOutput::silent() const {
  return engine_->silent();
}

std::function<void()> AudioOutput::kicker() const {
  return [gate = gate_] {
    std::lock_guard lock(gate->mutex);
    if (PulseEngine* engine = gate->engine) engine->kick();
  };
}
