#include "playback/CueSheet.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

namespace cue {
namespace {

constexpr int kMaxTracks = 99;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

// Takes the next word, or a quoted string without its quotes, off the front of rest.
std::string_view NextToken(std::string_view& rest) {
  rest = Trim(rest);
  std::string_view token;
  if (!rest.empty() && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    token = rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    rest = close == std::string_view::npos ? std::string_view() : rest.substr(close + 1);
  } else {
    std::size_t end = 0;
    while (end < rest.size() && !IsBlank(rest[end])) ++end;
    token = rest.substr(0, end);
    rest = rest.substr(end);
  }
  return token;
}

// A text value: one quoted string, or the rest of the line as it stands.
std::string TextValue(std::string_view rest) {
  rest = Trim(rest);
  if (!rest.empty() && rest.front() == '"') return std::string(NextToken(rest));
  return std::string(rest);
}

std::optional<int> Number(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits || s.front() == '-') return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// mm:ss:ff, in sectors (75 a second).
std::optional<std::int32_t> Time(std::string_view s) {
  const std::size_t a = s.find(':'), b = s.find(':', a == s.npos ? a : a + 1);
  if (b == s.npos) return std::nullopt;
  const auto m = Number(s.substr(0, a), 3), sec = Number(s.substr(a + 1, b - a - 1), 2),
             f = Number(s.substr(b + 1), 2);
  if (!m || !sec || !f || *sec >= 60 || *f >= 75) return std::nullopt;
  return (*m * 60 + *sec) * 75 + *f;
}

std::string TimeText(std::int64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(sectors / 4500),
                static_cast<long long>(sectors / 75 % 60), static_cast<long long>(sectors % 75));
  return text;
}

// A word of the sheet inside a message; a line of garbage must not make a message of a megabyte.
std::string Shown(std::string_view word) {
  return word.size() <= 40 ? std::string(word) : std::string(word.substr(0, 40)) + "...";
}

std::optional<FileType> ParseFileType(std::string_view word) {
  static const std::pair<const char*, FileType> kTypes[] = {
      {"BINARY", FileType::Binary}, {"MOTOROLA", FileType::Motorola}, {"WAVE", FileType::Wave},
      {"AIFF", FileType::Aiff},     {"FLAC", FileType::Flac},         {"MP3", FileType::Mp3}};
  for (const auto& [name, type] : kTypes)
    if (SameWord(word, name)) return type;
  return std::nullopt;
}

std::optional<TrackMode> ParseMode(std::string_view word) {
  if (SameWord(word, "AUDIO")) return TrackMode::Audio;
  if (SameWord(word, "MODE1/2352")) return TrackMode::Mode1;
  if (SameWord(word, "MODE2/2352")) return TrackMode::Mode2;
  return std::nullopt;
}

class Reader {
 public:
  std::optional<Sheet> run(std::string_view text, std::string* error) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte order mark
    while (!text.empty()) {
      ++line_;
      const std::size_t end = text.find_first_of("\r\n");
      const std::string_view content = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end);
      if (text.substr(0, 2) == "\r\n")
        text.remove_prefix(2);
      else if (!text.empty())
        text.remove_prefix(1);
      if (!command(content)) return fail(error);
    }
    line_ = 0;
    if (sheet_.tracks.empty()) {
      why_ = "no TRACK line: not a CUE sheet";
      return fail(error);
    }
    if (!trackDone()) return fail(error);
    return std::move(sheet_);
  }

 private:
  std::optional<Sheet> fail(std::string* error) {
    if (error) *error = line_ > 0 ? "line " + std::to_string(line_) + ": " + why_ : why_;
    return std::nullopt;
  }
  bool bad(std::string why) {
    why_ = std::move(why);
    return false;
  }
  Track* track() { return sheet_.tracks.empty() ? nullptr : &sheet_.tracks.back(); }

  bool command(std::string_view rest) {
    const std::string_view word = NextToken(rest);
    if (SameWord(word, "FILE")) return file(rest);
    if (SameWord(word, "TRACK")) return newTrack(rest);
    if (SameWord(word, "INDEX")) return index(rest);
    if (SameWord(word, "PREGAP") || SameWord(word, "POSTGAP")) return gap(word, rest);
    CdText& text = track() ? track()->text : sheet_.text;
    if (SameWord(word, "TITLE")) text.title = TextValue(rest);
    if (SameWord(word, "PERFORMER")) text.performer = TextValue(rest);
    if (SameWord(word, "SONGWRITER")) text.songwriter = TextValue(rest);
    // REM, CATALOG, FLAGS, ISRC, CDTEXTFILE and whatever a ripper adds of its own change
    // nothing that is played.
    return true;
  }

  bool file(std::string_view rest) {
    rest = Trim(rest);
    std::string_view name, type;
    if (!rest.empty() && rest.front() == '"') {
      name = NextToken(rest);
      type = NextToken(rest);
    } else {
      // Unquoted, a name may still hold spaces: the type is the last word.
      const std::size_t last = rest.find_last_of(" \t");
      if (last != std::string_view::npos) {
        name = Trim(rest.substr(0, last));
        type = rest.substr(last + 1);
      }
    }
    if (name.empty()) return bad("FILE without a file name and type");
    const auto fileType = ParseFileType(type);
    if (!fileType)
      return bad("FILE type '" + Shown(type) +
                 "' is none of BINARY, MOTOROLA, WAVE, AIFF, FLAC, MP3");
    sheet_.files.push_back({std::string(name), *fileType, line_});
    return true;
  }

  bool newTrack(std::string_view rest) {
    if (sheet_.files.empty()) return bad("TRACK before any FILE");
    if (sheet_.tracks.size() >= kMaxTracks) return bad("more than 99 tracks");
    if (track() && !trackDone()) return false;
    const std::string_view numberText = NextToken(rest), modeText = NextToken(rest);
    const auto number = Number(numberText, 2);
    if (!number || *number < 1) return bad("TRACK number '" + Shown(numberText) + "'");
    if (track() && *number <= track()->number)
      return bad("TRACK " + std::string(numberText) + " after TRACK " +
                 std::to_string(track()->number));
    const auto mode = ParseMode(modeText);
    if (!mode)
      return bad("track mode '" + Shown(modeText) +
                 "': only AUDIO, MODE1/2352 and MODE2/2352 can be played from here");
    Track t;
    t.number = *number;
    t.mode = *mode;
    t.line = line_;
    sheet_.tracks.push_back(std::move(t));
    return true;
  }

  bool index(std::string_view rest) {
    if (!track()) return bad("INDEX outside a TRACK");
    const std::string_view numberText = NextToken(rest), timeText = NextToken(rest);
    const auto number = Number(numberText, 2);
    const auto time = Time(timeText);
    if (!number || !time)
      return bad("INDEX '" + Shown(numberText) + " " + Shown(timeText) +
                 "' is not INDEX nn mm:ss:ff");
    std::vector<Index>& indices = track()->indices;
    const int expected = indices.empty() ? (*number == 0 ? 0 : 1) : indices.back().number + 1;
    if (*number != expected)
      return bad("INDEX " + std::string(numberText) +
                 (indices.empty() ? " as a track's first index (00 or 01 comes first)"
                                  : " after INDEX " + std::to_string(indices.back().number)));
    const int fileNow = static_cast<int>(sheet_.files.size()) - 1;
    // Times count from the start of their file, so within one file every index must come
    // later than the one before, whichever track it belongs to.
    if (lastIndexFile_ == fileNow && *time <= lastIndexTime_)
      return bad("INDEX " + std::string(numberText) + " " + TimeText(*time) +
                 " does not come after the index before it, at " + TimeText(lastIndexTime_));
    lastIndexFile_ = fileNow;
    lastIndexTime_ = *time;
    indices.push_back({*number, fileNow, *time, line_});
    return true;
  }

  bool gap(std::string_view word, std::string_view rest) {
    if (!track()) return bad(std::string(word) + " outside a TRACK");
    const bool pre = SameWord(word, "PREGAP");
    std::int32_t& length = pre ? track()->pregap : track()->postgap;
    const auto time = Time(NextToken(rest));
    if (!time) return bad(std::string(word) + " without a time mm:ss:ff");
    if (length > 0) return bad(std::string(word) + " twice in one track");
    if (!pre && track()->indices.empty()) return bad("POSTGAP before the track's INDEX");
    length = *time;
    return true;
  }

  bool trackDone() {
    const Track& t = *track();
    const bool hasStart = std::any_of(t.indices.begin(), t.indices.end(),
                                      [](const Index& i) { return i.number == 1; });
    return hasStart || bad("track " + std::to_string(t.number) + " has no INDEX 01");
  }

  Sheet sheet_;
  int line_ = 0;
  std::string why_;
  int lastIndexFile_ = -1;
  std::int32_t lastIndexTime_ = 0;
};

}  // namespace

std::optional<Sheet> Parse(std::string_view text, std::string* error) {
  return Reader().run(text, error);
}

std::optional<Disc> LayOut(const Sheet& sheet, const std::vector<std::int64_t>& fileSectors,
                           std::string* error) {
  auto fail = [&](std::string why) -> std::optional<Disc> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (fileSectors.size() != sheet.files.size() || sheet.tracks.empty())
    return fail("the sheet and its files do not match");
  for (const Track& t : sheet.tracks)
    for (const Index& i : t.indices) {
      const auto file = static_cast<std::size_t>(i.file);
      if (i.sector < fileSectors[file]) continue;
      char index[16];
      std::snprintf(index, sizeof index, "INDEX %02d ", i.number);
      return fail("line " + std::to_string(i.line) + ": " + index + TimeText(i.sector) +
                  " lies past the end of '" + sheet.files[file].name + "' (" +
                  TimeText(fileSectors[file]) + ")");
    }

  // Silence goes in where a track's first index lies (its PREGAP) and where the next track's
  // first index lies, or at the end of the last file (its POSTGAP): file, sector -> length.
  std::map<std::pair<int, std::int64_t>, std::int64_t> gaps;
  const int lastFile = static_cast<int>(sheet.files.size()) - 1;
  for (std::size_t t = 0; t < sheet.tracks.size(); ++t) {
    const Track& track = sheet.tracks[t];
    const Index& first = track.indices.front();
    if (track.pregap > 0) gaps[{first.file, first.sector}] += track.pregap;
    if (track.postgap > 0) {
      const std::pair<int, std::int64_t> at =
          t + 1 < sheet.tracks.size()
              ? std::pair<int, std::int64_t>{sheet.tracks[t + 1].indices.front().file,
                                             sheet.tracks[t + 1].indices.front().sector}
              : std::pair<int, std::int64_t>{lastFile, fileSectors.back()};
      gaps[at] += track.postgap;
    }
  }

  Disc disc;
  std::int64_t at = 0;
  auto add = [&](int file, std::int64_t fileSector, std::int64_t sectors) {
    if (sectors <= 0 || at + sectors > kMaxDiscSectors) {
      at += sectors;
      return;
    }
    disc.pieces.push_back(
        {static_cast<std::int32_t>(at), static_cast<std::int32_t>(sectors), file, fileSector});
    at += sectors;
  };
  // Where each file starts on the disc, and so where each index lands.
  std::vector<std::int64_t> fileStart(sheet.files.size());
  for (int f = 0; f <= lastFile; ++f) {
    fileStart[static_cast<std::size_t>(f)] = at;
    std::int64_t done = 0;
    for (auto it = gaps.lower_bound({f, 0}); it != gaps.end() && it->first.first == f; ++it) {
      add(f, done, it->first.second - done);
      add(-1, 0, it->second);
      done = it->first.second;
    }
    add(f, done, fileSectors[static_cast<std::size_t>(f)] - done);
  }
  if (at > kMaxDiscSectors) return fail("longer than the 255 minutes a disc may last here");
  auto discSector = [&](const Index& i) {
    std::int64_t s = fileStart[static_cast<std::size_t>(i.file)] + i.sector;
    for (auto it = gaps.lower_bound({i.file, 0});
         it != gaps.end() && it->first.first == i.file && it->first.second <= i.sector; ++it)
      s += it->second;
    return static_cast<std::int32_t>(s);
  };

  for (const Track& t : sheet.tracks) {
    const auto start = std::find_if(t.indices.begin(), t.indices.end(),
                                    [](const Index& i) { return i.number == 1; });
    disc.toc.tracks.push_back({discSector(*start), t.mode == TrackMode::Audio});
    disc.trackText.push_back(t.text);
  }
  disc.toc.leadout = static_cast<std::int32_t>(at);
  disc.text = sheet.text;
  if (!disc.toc.IsValid()) return fail("the tracks do not make a valid table of contents");
  return disc;
}

}  // namespace cue
