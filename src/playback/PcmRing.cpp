#include "playback/PcmRing.h"

#include <algorithm>
#include <cstring>

PcmRing::PcmRing(std::size_t capacityBytes) : buffer_(std::max<std::size_t>(capacityBytes, 1)) {}

// The read count first: it never passes the write count, which only grows, so the difference
// can never go below zero for a thread that is neither side (the other order can read a read
// count that has passed the write count it read first). Such a thread may see the writer more
// than a lap ahead of the read count it read; no more than the whole ring is ever ready.
std::size_t PcmRing::available() const {
  const std::uint64_t tail = taken_.load(std::memory_order_acquire);
  const std::uint64_t head = written_.load(std::memory_order_acquire);
  return static_cast<std::size_t>(std::min<std::uint64_t>(head - tail, capacity()));
}

std::size_t PcmRing::space() const {
  return capacity() - available();
}

std::size_t PcmRing::write(const std::byte* data, std::size_t bytes) {
  const std::uint64_t head = written_.load(std::memory_order_relaxed);
  const std::uint64_t tail = taken_.load(std::memory_order_acquire);
  const std::size_t n = std::min(bytes, capacity() - static_cast<std::size_t>(head - tail));
  const std::size_t at = static_cast<std::size_t>(head % capacity());
  const std::size_t first = std::min(n, capacity() - at);
  std::memcpy(buffer_.data() + at, data, first);
  std::memcpy(buffer_.data(), data + first, n - first);
  written_.store(head + n, std::memory_order_release);
  return n;
}

std::size_t PcmRing::read(std::byte* data, std::size_t bytes) {
  const std::uint64_t tail = taken_.load(std::memory_order_relaxed);
  const std::uint64_t head = written_.load(std::memory_order_acquire);
  const std::size_t n = std::min(bytes, static_cast<std::size_t>(head - tail));
  if (data) {
    const std::size_t at = static_cast<std::size_t>(tail % capacity());
    const std::size_t first = std::min(n, capacity() - at);
    std::memcpy(data, buffer_.data() + at, first);
    std::memcpy(data + first, buffer_.data(), n - first);
  }
  taken_.store(tail + n, std::memory_order_release);
  return n;
}
