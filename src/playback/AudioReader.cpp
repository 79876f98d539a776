#include "playback/AudioReader.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {
constexpr int kPlaybackSpeed = 4;     // quiet, and still twice what the ring needs
constexpr int kFirstReadSectors = 8;  // a short first read gets the sound going sooner
}  // namespace

std::vector<PlaySpan> AudioSpans(const DiscToc& toc, std::int32_t from) {
  std::vector<PlaySpan> spans;
  for (int t = 1; t <= toc.TrackCount(); ++t) {
    const std::int32_t first = std::max(toc.TrackStart(t), from);
    const std::int32_t end = toc.TrackEnd(t);
    if (!toc.IsAudio(t) || first >= end) continue;
    if (!spans.empty() && spans.back().end == first)
      spans.back().end = end;
    else
      spans.push_back({first, end});
  }
  return spans;
}

std::int32_t SectorAfter(const std::vector<PlaySpan>& spans, std::int64_t played) {
  for (const PlaySpan& s : spans) {
    if (played < s.end - s.first) return s.first + static_cast<std::int32_t>(played);
    played -= s.end - s.first;
  }
  return spans.empty() ? 0 : spans.back().end;
}

struct AudioReader::Shared {
  std::shared_ptr<DriveIo> io;
  std::mutex mutex;
  std::condition_variable wake;
  std::uint64_t generation = 0;  // bumped by every start and cancel
  bool quit = false;
  bool done = false;  // the thread has left its loop
  std::condition_variable finished;
  // The pending session.
  std::shared_ptr<PcmRing> ring;
  std::vector<PlaySpan> spans;
  std::function<void()> onData;

  void run();
  bool current(std::uint64_t g) {
    std::lock_guard lock(mutex);
    return !quit && generation == g;
  }
};

bool AudioReader::ReadResilient(DriveIo& io, std::int32_t lsn, int count, std::byte* out,
                                const std::function<bool()>& keepGoing) {
  if (count <= 0) return true;
  if (io.readAudio(lsn, count, out)) return true;
  if (!keepGoing()) return false;
  if (count == 1) {
    std::memset(out, 0, kBytesPerSector);  // unreadable: silence, and play on
    return true;
  }
  const int half = count / 2;
  return ReadResilient(io, lsn, half, out, keepGoing) &&
         ReadResilient(io, lsn + half, count - half,
                       out + static_cast<std::ptrdiff_t>(half) * kBytesPerSector, keepGoing);
}

void AudioReader::Shared::run() {
  std::vector<std::byte> buffer;
  bool speedSet = false;
  for (;;) {
    std::shared_ptr<PcmRing> sessionRing;
    std::vector<PlaySpan> sessionSpans;
    std::function<void()> sessionData;
    std::uint64_t g;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [&] { return quit || ring != nullptr; });
      if (quit) break;
      sessionRing = std::move(ring);
      sessionSpans = std::move(spans);
      sessionData = std::move(onData);
      ring.reset();
      g = generation;
    }
    if (!speedSet) {
      io->setSpeed(kPlaybackSpeed);
      speedSet = true;
    }
    const int most = std::max(1, io->maxSectorsPerRead());
    buffer.resize(static_cast<std::size_t>(most) * kBytesPerSector);
    const auto keepGoing = [&] { return current(g); };
    int chunk = std::min(most, kFirstReadSectors);
    bool live = true;
    for (const PlaySpan& span : sessionSpans) {
      std::int32_t lsn = span.first;
      while (live && lsn < span.end) {
        const int want = std::min<std::int32_t>(chunk, span.end - lsn);
        if (sessionRing->space() < static_cast<std::size_t>(want) * kBytesPerSector) {
          // The ring is full: wait for the sound to use some of it, or for a new command.
          std::unique_lock lock(mutex);
          wake.wait_for(lock, std::chrono::milliseconds(100),
                        [&] { return quit || generation != g; });
          live = !quit && generation == g;
          continue;
        }
        live = ReadResilient(*io, lsn, want, buffer.data(), keepGoing) && keepGoing();
        if (!live) break;
        sessionRing->write(buffer.data(), static_cast<std::size_t>(want) * kBytesPerSector);
        if (sessionData) sessionData();
        lsn += want;
        chunk = most;
      }
      if (!live) break;
    }
    if (live) {
      sessionRing->finish();
      if (sessionData) sessionData();
    }
  }
  if (speedSet) io->setSpeed(0);  // leave the drive at its full speed for other programs
  std::lock_guard lock(mutex);
  done = true;
  finished.notify_all();
}

AudioReader::AudioReader(std::shared_ptr<DriveIo> io) : shared_(std::make_shared<Shared>()) {
  shared_->io = std::move(io);
  thread_ = std::thread([s = shared_] {
    ::pthread_setname_np(::pthread_self(), "cd reader");
    s->run();
  });
}

AudioReader::~AudioReader() {
  bool done;
  {
    std::unique_lock lock(shared_->mutex);
    shared_->quit = true;
    ++shared_->generation;
    shared_->ring.reset();
    shared_->onData = nullptr;
    shared_->wake.notify_all();
    // A drive stuck in a read must not hang the program's exit: after a while the thread is
    // left to finish on its own (it keeps what it uses alive).
    done = shared_->finished.wait_for(lock, std::chrono::seconds(5), [&] { return shared_->done; });
  }
  if (done)
    thread_.join();
  else
    thread_.detach();
}

void AudioReader::start(std::shared_ptr<PcmRing> ring, std::vector<PlaySpan> spans,
                        std::function<void()> onData) {
  std::lock_guard lock(shared_->mutex);
  ++shared_->generation;
  shared_->ring = std::move(ring);
  shared_->spans = std::move(spans);
  shared_->onData = std::move(onData);
  shared_->wake.notify_all();
}

void AudioReader::cancel() {
  std::lock_guard lock(shared_->mutex);
  ++shared_->generation;
  shared_->ring.reset();
  shared_->onData = nullptr;
  shared_->wake.notify_all();
}
