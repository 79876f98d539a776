#pragma once
// CUE sheets: the text that describes a disc as data files and the tracks within them, and the
// disc a burner would write from it. Nothing here touches a file, so the sheet's reader can be
// fuzzed on its own; CueImage opens the files and reads their sectors.
//
// The sheet is read by the program itself rather than by libcue: libcue keeps no FILE type
// (so MOTOROLA byte order and WAVE cannot be told apart), files a track under the wrong FILE
// when an INDEX 00 sits before a FILE line, takes frame numbers of 75 and above and decreasing
// INDEX times without a word, and writes its complaints to stderr. A sheet is a few dozen
// lines of a simple grammar; reading it here costs less than working around those.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/DiscToc.h"

namespace cue {

// BINARY and MOTOROLA are raw sectors (little- and big-endian samples); the others are decoded.
enum class FileType { Binary, Motorola, Wave, Aiff, Flac, Mp3 };
// Data tracks are read as raw 2352-byte sectors, as the audio ones are.
enum class TrackMode { Audio, Mode1, Mode2 };

// Bytes as the sheet holds them (often code page 932, sometimes UTF-8): never converted here.
struct CdText {
  std::string title, performer, songwriter;
  bool operator==(const CdText&) const = default;
};

struct File {
  std::string name;  // as written, without quotes
  FileType type = FileType::Binary;
  int line = 0;
};

struct Index {
  int number = 0;
  int file = 0;             // the FILE it lies in
  std::int32_t sector = 0;  // from the start of that file
  int line = 0;
};

struct Track {
  int number = 0;
  TrackMode mode = TrackMode::Audio;
  std::vector<Index> indices;  // INDEX 00 (if any) first, then 01, 02, ...
  std::int32_t pregap = 0;     // PREGAP and POSTGAP: silence in no file, in sectors
  std::int32_t postgap = 0;
  CdText text;
  int line = 0;
};

struct Sheet {
  std::vector<File> files;
  std::vector<Track> tracks;
  CdText text;  // the disc's own, from before the first TRACK
};

// Reads a sheet. Nullopt, with "line N: what is wrong" in *error, when it describes no disc.
std::optional<Sheet> Parse(std::string_view text, std::string* error);

// A run of the disc's sectors taken from one file, or silence (file < 0).
struct Piece {
  std::int32_t first = 0;  // disc sector, 0 being track 1's INDEX 01 on a plain disc
  std::int32_t sectors = 0;
  int file = -1;
  std::int64_t fileSector = 0;  // where in the file the run starts
};

struct Disc {
  DiscToc toc;
  std::vector<Piece> pieces;  // in disc order, end to end from sector 0 to the leadout
  CdText text;
  std::vector<CdText> trackText;  // track 1 first
};

// The longest disc accepted: 255 minutes, so that a track's minutes fit the TMSF byte.
inline constexpr std::int64_t kMaxDiscSectors = 255 * 60 * 75;

// The disc burnt from the sheet, given each file's length in sectors: the files one after the
// other, PREGAP and POSTGAP silence inserted, each track starting at its INDEX 01. Nullopt, with
// the reason in *error, when an index lies past the end of its file or the disc is too long.
std::optional<Disc> LayOut(const Sheet& sheet, const std::vector<std::int64_t>& fileSectors,
                           std::string* error);

}  // namespace cue
