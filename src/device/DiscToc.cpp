#include "device/DiscToc.h"

#include "device/Tmsf.h"

namespace {
constexpr std::int32_t kPregapFrames =
    150;  // addresses count from 00:02:00 before the first sector
constexpr int kMaxTracks = 99;
}  // namespace

bool DiscToc::IsValid() const {
  if (tracks.empty() || TrackCount() > kMaxTracks) return false;
  if (tracks.front().lsn < 0) return false;
  for (std::size_t i = 1; i < tracks.size(); ++i)
    if (tracks[i].lsn <= tracks[i - 1].lsn) return false;
  return leadout > tracks.back().lsn;
}

std::int32_t DiscToc::TrackEnd(int track) const {
  return track < TrackCount() ? TrackStart(track + 1) : leadout;
}

int DiscToc::TrackAt(std::int32_t lsn) const {
  int track = 1;
  for (int t = 1; t <= TrackCount(); ++t)
    if (TrackStart(t) <= lsn) track = t;
  return track;
}

std::uint32_t DiscToc::ToTmsf(std::int32_t lsn) const {
  if (tracks.empty()) return 0;
  const int track = TrackAt(lsn);
  const std::int32_t offset = lsn - TrackStart(track);
  const auto frames = static_cast<std::uint32_t>(offset < 0 ? 0 : offset);
  return tmsf::Make(static_cast<std::uint32_t>(track), frames / tmsf::FramesPerMinute,
                    (frames / tmsf::FramesPerSecond) % 60, frames % tmsf::FramesPerSecond);
}

std::optional<std::int32_t> DiscToc::FromTmsf(std::uint32_t position) const {
  const int track = tmsf::Track(position);
  if (!HasTrack(track)) return std::nullopt;
  const std::int64_t lsn = std::int64_t{TrackStart(track)} +
                           tmsf::Minutes(position) * std::int64_t{tmsf::FramesPerMinute} +
                           tmsf::Seconds(position) * std::int64_t{tmsf::FramesPerSecond} +
                           tmsf::Frames(position);
  if (lsn > leadout) return std::nullopt;
  return static_cast<std::int32_t>(lsn);
}

std::uint32_t DiscToc::Identity() const {
  auto address = [](std::int32_t lsn) { return static_cast<std::uint32_t>(lsn + kPregapFrames); };
  auto packed = [](std::uint32_t frames) {
    const std::uint32_t minutes = frames / tmsf::FramesPerMinute;
    const std::uint32_t seconds = (frames / tmsf::FramesPerSecond) % 60;
    return minutes * 65536u + seconds * 256u + frames % tmsf::FramesPerSecond;
  };
  std::uint32_t sum = 0;
  for (const TocTrack& t : tracks) sum += packed(address(t.lsn));
  if (!tracks.empty() && tracks.size() < 3) {
    const std::uint32_t first = address(tracks.front().lsn);
    sum += first % tmsf::FramesPerSecond;
    sum += address(leadout) - first;
  }
  return sum;
}
