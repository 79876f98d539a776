#include "playback/AudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "log/Log.h"

namespace {

constexpr int kTickMs = 20;
// What we ask the server to buffer; it grants less (200 ms became 120 ms when measured).
constexpr int kSinkBufferMs = 300;
// The sink reports idle 75-100 ms before its last sample is heard; when its clock does not
// reach the end on its own, the end is declared this long after idle.
constexpr qint64 kIdleGraceMs = 250;
// How long closing waits for the audio thread to end.
constexpr int kThreadPatienceMs = 5000;

std::atomic<bool> silenceReported{false};

void reportSilence() {
  if (!silenceReported.exchange(true))
    qCWarning(lcPlayback, "no sound server; playing on silently");
}

// The sink's view of the ring. Unbuffered, so what the sink took is exactly what left the ring.
class RingDevice : public QIODevice {
 public:
  explicit RingDevice(std::shared_ptr<PcmRing> ring) : ring_(std::move(ring)) {}
  bool isSequential() const override { return true; }
  bool atEnd() const override { return ring_->drained(); }
  qint64 bytesAvailable() const override {
    return static_cast<qint64>(ring_->available()) + QIODevice::bytesAvailable();
  }
  std::int64_t framesTaken() const { return taken_ / AudioOutput::kBytesPerFrame; }
  void announce() { emit readyRead(); }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    const auto want = static_cast<std::size_t>(maxSize - maxSize % AudioOutput::kBytesPerFrame);
    const std::size_t n = ring_->read(reinterpret_cast<std::byte*>(data), want);
    taken_ += static_cast<std::int64_t>(n);
    return static_cast<qint64>(n);
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  std::shared_ptr<PcmRing> ring_;
  std::int64_t taken_ = 0;
};

}  // namespace

// Lives on the output thread; every member is touched there only.
class AudioWorker : public QObject {
 public:
  AudioWorker(std::shared_ptr<AudioOutput::State> state, bool useSoundServer)
      : state_(std::move(state)), useSoundServer_(useSoundServer) {}

  void begin(std::shared_ptr<PcmRing> ring) {
    end();
    ring_ = std::move(ring);
    if (!timer_) {
      timer_ = new QTimer(this);
      timer_->setTimerType(Qt::PreciseTimer);
      timer_->setInterval(kTickMs);
      QObject::connect(timer_, &QTimer::timeout, this, [this] { tick(); });
    }
    if (!useSoundServer_ || !openSink()) goSilent(0);
    timer_->start();
  }

  void end() {
    if (timer_) timer_->stop();
    closeSink();
    ring_.reset();
    silent_ = false;
    // Nothing plays now, so nothing plays silently either.
    state_->silent.store(false, std::memory_order_release);
  }

  void kick() {
    if (sink_ && device_ && sink_->state() == QAudio::IdleState && ring_ && ring_->available() > 0)
      device_->announce();
  }

 private:
  bool openSink() {
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull()) return false;
    QAudioFormat format;
    format.setSampleRate(AudioOutput::kSampleRate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    // No parent: a sink is deleted only by closeSink(), and never with the worker's children.
    sink_ = new QAudioSink(output, format);
    const std::uint64_t serial = ++sinkSerial_;
    sink_->setBufferSize(AudioOutput::kSampleRate * AudioOutput::kBytesPerFrame * kSinkBufferMs /
                         1000);
    // The sink reads the device until its own end (its destructor lets go of it): as its
    // child, the device dies after it.
    device_ = new RingDevice(ring_);
    device_->setParent(sink_);
    device_->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QObject::connect(sink_, &QAudioSink::stateChanged, this, [this, serial](QAudio::State s) {
      // The server went away under us: play on, silently, from what it had taken. Later, not
      // inside the sink's own signal; and only if this sink is still the current one.
      if (s == QAudio::StoppedState && serial == sinkSerial_ && sink_ &&
          sink_->error() != QAudio::NoError)
        QTimer::singleShot(0, this, [this, serial] {
          if (serial == sinkSerial_) sinkFailed();
        });
    });
    sink_->start(device_);
    // A missing server shows only here: start() emits nothing when it cannot open.
    if (sink_->error() == QAudio::OpenError || sink_->error() == QAudio::FatalError ||
        sink_->state() == QAudio::StoppedState) {
      closeSink();
      return false;
    }
    silenceReported = false;
    state_->silent = false;
    idle_.invalidate();
    return true;
  }

  // Qt 6.4's PulseAudio sink runs this thread's pending events from inside its destructor. A
  // sink deleted here would run them in the middle of begin() or sinkFailed() (a queued
  // sinkFailed() then deleted the same sink a second time: the crash after the server died).
  // So the sink is let go of first, and deleted by the event loop once this worker's code has
  // returned; its device goes with it.
  void closeSink() {
    QAudioSink* sink = std::exchange(sink_, nullptr);
    device_ = nullptr;
    if (!sink) return;
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater();
  }

  void sinkFailed() {
    if (!sink_ || !ring_) return;
    // What the sink took but never played is lost with it; count it as played so that the
    // position does not fall behind the data.
    const std::int64_t taken = device_->framesTaken();
    closeSink();
    goSilent(taken);
  }

  void goSilent(std::int64_t played) {
    reportSilence();
    silent_ = true;
    state_->silent = true;
    silentPlayed_ = played;
    publish(played);
    clock_.start();
    clockFrames_ = 0;
  }

  void publish(std::int64_t played) {
    if (played > state_->played.load(std::memory_order_relaxed))
      state_->played.store(played, std::memory_order_release);
  }

  void finish() {
    state_->finished.store(true, std::memory_order_release);
    timer_->stop();
    closeSink();
  }

  void tick() {
    if (!ring_) return;
    if (silent_) {
      // The clock owes the frames of the time gone by, but can only play what has been read.
      const std::int64_t due = clock_.nsecsElapsed() * AudioOutput::kSampleRate / 1000000000;
      const auto owed = static_cast<std::size_t>(std::max<std::int64_t>(due - clockFrames_, 0));
      const std::size_t have = ring_->available() / AudioOutput::kBytesPerFrame;
      const std::size_t take = std::min(owed, have);
      ring_->read(nullptr, take * AudioOutput::kBytesPerFrame);
      silentPlayed_ += static_cast<std::int64_t>(take);
      // Time spent waiting for the reader is not owed later, or the clock would race ahead.
      clockFrames_ = take < owed ? due : clockFrames_ + static_cast<std::int64_t>(take);
      publish(silentPlayed_);
      if (ring_->drained()) finish();
      return;
    }
    if (!sink_) return;
    const std::int64_t taken = device_->framesTaken();
    const std::int64_t heard =
        std::min<std::int64_t>(sink_->processedUSecs() * AudioOutput::kSampleRate / 1000000, taken);
    publish(heard);
    if (sink_->state() == QAudio::IdleState) {
      if (ring_->available() > 0) {
        device_->announce();  // ran dry while the reader caught up
      } else if (ring_->drained()) {
        if (!idle_.isValid()) idle_.start();
        if (heard >= taken || idle_.elapsed() >= kIdleGraceMs) {
          publish(taken);
          finish();
        }
      }
    } else {
      idle_.invalidate();
    }
  }

  std::shared_ptr<AudioOutput::State> state_;
  bool useSoundServer_;
  std::shared_ptr<PcmRing> ring_;
  QTimer* timer_ = nullptr;
  QAudioSink* sink_ = nullptr;
  RingDevice* device_ = nullptr;  // a child of sink_
  std::uint64_t sinkSerial_ = 0;  // counts the sinks opened, so a late failure finds its own
  QElapsedTimer idle_;
  bool silent_ = false;
  QElapsedTimer clock_;
  std::int64_t clockFrames_ = 0;
  std::int64_t silentPlayed_ = 0;
};

AudioOutput::AudioOutput(bool useSoundServer)
    : useSoundServer_(useSoundServer), state_(std::make_shared<State>()) {}

AudioOutput::~AudioOutput() {
  if (!thread_) return;
  stop();
  {
    std::lock_guard lock(state_->gate);
    state_->worker = nullptr;  // no more kicks
  }
  // The worker and its timer must die on the thread they live on (the sinks it let go of are
  // deleted as that thread finishes); then the thread ends.
  QMetaObject::invokeMethod(
      worker_,
      [w = worker_] {
        delete w;
        QThread::currentThread()->quit();
      },
      Qt::QueuedConnection);
  if (thread_->wait(QDeadlineTimer(kThreadPatienceMs))) {
    delete thread_;
  } else {
    // Stuck in the sound server: left behind with what it uses (the worker and the state),
    // rather than hang the program's exit.
    qCWarning(lcPlayback, "the audio thread does not end; leaving it behind");
  }
}

void AudioOutput::ensureThread() {
  if (thread_) return;
  thread_ = new QThread;
  thread_->setObjectName(QStringLiteral("audio output"));
  worker_ = new AudioWorker(state_, useSoundServer_);
  worker_->moveToThread(thread_);
  {
    std::lock_guard lock(state_->gate);
    state_->worker = worker_;
  }
  thread_->start(QThread::TimeCriticalPriority);
}

void AudioOutput::start(std::shared_ptr<PcmRing> ring) {
  ensureThread();
  stop();
  state_->played = 0;
  state_->finished = false;
  QMetaObject::invokeMethod(
      worker_, [w = worker_, r = std::move(ring)]() mutable { w->begin(std::move(r)); },
      Qt::QueuedConnection);
}

void AudioOutput::stop() {
  if (!thread_) return;
  QMetaObject::invokeMethod(
      worker_, [w = worker_] { w->end(); }, Qt::BlockingQueuedConnection);
}

std::function<void()> AudioOutput::kicker() const {
  return [state = state_] {
    std::lock_guard lock(state->gate);
    if (AudioWorker* w = state->worker)
      QMetaObject::invokeMethod(
          w, [w] { w->kick(); }, Qt::QueuedConnection);
  };
}
