#pragma once
// The reader thread: reads the audio sectors of what is playing ahead into a ring buffer.
// Commands never wait for the drive: a new session supersedes the old one at once, and the
// old one's late data is dropped.
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "device/DiscToc.h"
#include "playback/DriveIo.h"
#include "playback/PcmRing.h"

// A run of audio sectors [first, end) to play, in order.
struct PlaySpan {
  std::int32_t first = 0;
  std::int32_t end = 0;
  bool operator==(const PlaySpan&) const = default;
};

// What playing from `from` to the end of the disc sounds: the audio tracks only. A start
// inside a data track moves to the next audio track; empty when no audio follows.
std::vector<PlaySpan> AudioSpans(const DiscToc& toc, std::int32_t from);
// The sector reached after `played` sectors of spans; the end of the last span when past it.
std::int32_t SectorAfter(const std::vector<PlaySpan>& spans, std::int64_t played);

// Thread contract: start(), cancel() and the destructor are called from one thread at a time
// (the driver's commands, under its control lock); the reader thread only reads the drive and
// writes the ring. The destructor joins the thread, or after a while leaves one stuck in a
// drive behind: that thread keeps the drive and the session alive, and touches nothing else.
class AudioReader {
 public:
  explicit AudioReader(std::shared_ptr<DriveIo> io);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  // Starts filling ring with spans; onData runs on the reader thread after every write.
  void start(std::shared_ptr<PcmRing> ring, std::vector<PlaySpan> spans,
             std::function<void()> onData);
  // Drops the current session; returns without waiting for a read in progress.
  void cancel();

  // Reads sectors, splitting a failed read into smaller ones and leaving silence where even
  // one sector cannot be read. Stops early (returning false) when keepGoing turns false.
  static bool ReadResilient(DriveIo& io, std::int32_t lsn, int count, std::byte* out,
                            const std::function<bool()>& keepGoing);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
