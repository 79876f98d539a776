#pragma once
// A disc's table of contents, the positions it defines, and the identity that names the disc
// in the disc database.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The names a disc carries about itself: the chosen block of its CD-Text, or the TITLE and
// PERFORMER lines of an image's CUE sheet. Kept as the disc holds them; disc/DiscNames makes the
// stored names of them.
struct DiscText {
  enum class Encoding {
    Utf8,    // Unicode already
    Latin1,  // an ISO 8859-1 (or ASCII) block of CD-Text
    Cp932,   // an MS-JIS block: Shift-JIS bytes, as names are stored
    Guess,   // a sheet's bytes, as someone's editor saved them: UTF-8, code page 932 or 1252
  };
  struct Names {
    std::string title, performer;
    bool operator==(const Names&) const = default;
  };
  Encoding encoding = Encoding::Utf8;
  Names album;
  std::vector<Names> tracks;  // track 1 first; may end before the disc does

  bool operator==(const DiscText&) const = default;
};

struct TocTrack {
  std::int32_t lsn = 0;  // first sector, counted from the first audio sector of the disc
  bool audio = true;
};

class DiscToc {
 public:
  DiscToc() = default;
  DiscToc(std::vector<TocTrack> tracks, std::int32_t leadout)
      : tracks(std::move(tracks)), leadout(leadout) {}

  std::vector<TocTrack> tracks;  // track 1 first
  std::int32_t leadout = 0;      // first sector after the last track
  // What the disc says of itself, read with the table; a change of it is a change of disc.
  std::optional<DiscText> text;

  // 1 to 99 tracks, starts rising and not negative, the leadout after the last start.
  bool IsValid() const;
  int TrackCount() const { return static_cast<int>(tracks.size()); }
  bool HasTrack(int track) const { return track >= 1 && track <= TrackCount(); }
  std::int32_t TrackStart(int track) const { return tracks.at(track - 1).lsn; }
  // The first sector after the track: the next track's start, or the leadout.
  std::int32_t TrackEnd(int track) const;
  bool IsAudio(int track) const { return tracks.at(track - 1).audio; }
  // The track whose sectors hold lsn; the leadout and beyond count as the last track,
  // anything before track 1 as track 1.
  int TrackAt(std::int32_t lsn) const;

  // Positions in TMSF: the track, then minutes, seconds, frames from the track's start.
  std::uint32_t ToTmsf(std::int32_t lsn) const;
  std::optional<std::int32_t> FromTmsf(std::uint32_t tmsf) const;

  // The identity the Windows CD audio driver reports for this disc, so that entries stored
  // there are found here: the packed M:S:F addresses of all track starts summed in 32 bits,
  // plus a leadout term on discs of fewer than three tracks.
  std::uint32_t Identity() const;
  std::string IdentityText() const { return std::to_string(Identity()); }

  bool operator==(const DiscToc&) const = default;
};

inline bool operator==(const TocTrack& a, const TocTrack& b) {
  return a.lsn == b.lsn && a.audio == b.audio;
}
