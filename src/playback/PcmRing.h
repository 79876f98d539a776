#pragma once
// A single-producer, single-consumer ring of PCM bytes: the reader thread writes the disc's
// audio into it, the audio thread takes it out. Neither side ever waits for the other, so a
// drive that hangs in a read cannot stall the sound server's feed.
//
// Threads: the producer calls (write, finish) from one thread at a time, the consumer calls
// (read) from one thread at a time; the queries from any thread. No locks: atomic totals only.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class PcmRing {
 public:
  explicit PcmRing(std::size_t capacityBytes);

  std::size_t capacity() const { return buffer_.size(); }
  std::size_t available() const;  // bytes ready for the consumer
  std::size_t space() const;      // bytes the producer may write

  // Producer: copies at most space() bytes; returns how many went in.
  std::size_t write(const std::byte* data, std::size_t bytes);
  // Producer: nothing more will come (the end of what was asked to play).
  void finish() { finished_.store(true, std::memory_order_release); }

  // Consumer: copies at most available() bytes out; null data only discards.
  std::size_t read(std::byte* data, std::size_t bytes);
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  // Finished and emptied: everything the producer wrote has been taken.
  bool drained() const { return finished() && available() == 0; }

 private:
  std::vector<std::byte> buffer_;
  // Running totals; their difference is the fill level, so no slot is ever wasted.
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<bool> finished_{false};
};
