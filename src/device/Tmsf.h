#pragma once
// TMSF positions: one 32-bit value, track in the low byte, then minutes, seconds, frames
// within that track. MSF values pack minutes, seconds, frames the same way from the low byte.
#include <cstdint>

namespace tmsf {

constexpr std::uint32_t FramesPerSecond = 75;
constexpr std::uint32_t FramesPerMinute = 60 * FramesPerSecond;

constexpr std::uint8_t Track(std::uint32_t p) {
  return static_cast<std::uint8_t>(p & 0xFF);
}
constexpr std::uint8_t Minutes(std::uint32_t p) {
  return static_cast<std::uint8_t>((p >> 8) & 0xFF);
}
constexpr std::uint8_t Seconds(std::uint32_t p) {
  return static_cast<std::uint8_t>((p >> 16) & 0xFF);
}
constexpr std::uint8_t Frames(std::uint32_t p) {
  return static_cast<std::uint8_t>((p >> 24) & 0xFF);
}

constexpr std::uint32_t Make(std::uint32_t track, std::uint32_t minutes, std::uint32_t seconds,
                             std::uint32_t frames) {
  return (track & 0xFF) | ((minutes & 0xFF) << 8) | ((seconds & 0xFF) << 16) |
         ((frames & 0xFF) << 24);
}

// The start of track n: n in the low byte, zero elsewhere.
constexpr std::uint32_t TrackStart(std::uint32_t track) {
  return track & 0xFF;
}

// MSF packing shares the layout of TMSF without the track byte.
constexpr std::uint32_t MakeMsf(std::uint32_t minutes, std::uint32_t seconds,
                                std::uint32_t frames) {
  return (minutes & 0xFF) | ((seconds & 0xFF) << 8) | ((frames & 0xFF) << 16);
}

// A frame count (sectors) split into the MSF fields; minutes beyond 255 wrap as MCI's do.
constexpr std::uint32_t MsfFromFrames(std::uint32_t frames) {
  return MakeMsf(frames / FramesPerMinute, (frames / FramesPerSecond) % 60,
                 frames % FramesPerSecond);
}
constexpr std::uint32_t FramesFromMsf(std::uint32_t msf) {
  return (msf & 0xFF) * FramesPerMinute + ((msf >> 8) & 0xFF) * FramesPerSecond +
         ((msf >> 16) & 0xFF);
}

}  // namespace tmsf
