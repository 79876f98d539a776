#include "playback/ImageProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace {

std::uint64_t BigEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (const char c : bytes) value = value << 8 | static_cast<unsigned char>(c);
  return value;
}

// What libcdio's reader takes from the chunks it knows; the sizes are the format's own.
constexpr std::uint64_t kDaoHeader = 22;  // before the per-track entries
constexpr std::uint64_t kDaoxEntry = 42;  // 64-bit offsets
constexpr std::uint64_t kDaoiEntry = 30;  // 32-bit offsets
constexpr std::uint64_t kCueEntry = 8;    // CUEX and CUES
constexpr std::uint64_t kEtnfEntry = 20;  // 32-bit offsets
constexpr std::uint64_t kEtn2Entry = 32;  // 64-bit offsets
constexpr std::uint64_t kCdTextPack = 18;
constexpr std::uint64_t kMaxTracks = 99;

}  // namespace

NrgVerdict CheckNrg(std::uint64_t fileSize, std::string_view tail, std::string* why) {
  auto unusable = [&](std::string reason) {
    if (why) *why = std::move(reason);
    return NrgVerdict::Unusable;
  };
  // Only what the tail holds is known; libcdio reads the last 12 bytes whatever the size.
  tail = tail.substr(tail.size() - std::min<std::size_t>(tail.size(), kNrgListBytes));
  if (tail.size() > fileSize) return NrgVerdict::NotNrg;
  const std::uint64_t base = fileSize - tail.size();  // the file offset of tail[0]
  auto bytes = [&](std::uint64_t offset, std::uint64_t length) -> std::optional<std::string_view> {
    if (offset < base || offset > fileSize || length > fileSize - offset) return std::nullopt;
    return tail.substr(static_cast<std::size_t>(offset - base), static_cast<std::size_t>(length));
  };
  if (fileSize < 12) return NrgVerdict::NotNrg;
  const std::optional<std::string_view> footer = bytes(fileSize - 12, 12);
  if (!footer) return NrgVerdict::NotNrg;
  // libcdio looks for the older footer first.
  std::uint64_t list = 0, listEnd = 0;
  if (footer->substr(4, 4) == "NERO") {
    list = BigEndian(footer->substr(8, 4));
    listEnd = fileSize - 8;
  } else if (footer->substr(0, 4) == "NER5") {
    list = BigEndian(footer->substr(4, 8));
    listEnd = fileSize - 12;
  } else {
    return NrgVerdict::NotNrg;
  }
  if (list > listEnd || fileSize - list > kNrgListBytes || !bytes(list, listEnd - list))
    return unusable("its footer points outside the file");

  std::uint64_t tracks = 0;
  int trackLists = 0;
  for (std::uint64_t at = list;;) {
    const auto header = bytes(at, 8);
    if (!header || listEnd - at < 8) return unusable("its chunk list has no end");
    const std::string_view name = header->substr(0, 4);
    if (name == "END!") break;
    const std::uint64_t length = BigEndian(header->substr(4, 4));
    const std::string shown(name.begin(), name.end());
    if (length > listEnd - at - 8) return unusable("its chunk " + shown + " runs past the file");
    auto bad = [&] { return unusable("its chunk " + shown + " is malformed"); };
    auto trackList = [&](std::uint64_t entry, std::uint64_t count) {
      ++trackLists;
      tracks += count;
      return length % entry == 0;
    };
    if (name == "CUEX") {
      // Pairs of entries after the lead-in's pair, one pair a track.
      const std::uint64_t entries = length / kCueEntry;
      if (!trackList(kCueEntry, entries >= 2 ? (entries - 2) / 2 : 0) || entries % 2 != 0)
        return bad();
    } else if (name == "CUES") {
      const std::uint64_t entries = length / kCueEntry;
      if (!trackList(kCueEntry, entries >= 2 ? (entries - 1) / 2 : 0)) return bad();
    } else if (name == "ETNF") {
      if (!trackList(kEtnfEntry, length / kEtnfEntry)) return bad();
    } else if (name == "ETN2") {
      if (!trackList(kEtn2Entry, length / kEtn2Entry)) return bad();
    } else if (name == "DAOX" || name == "DAOI") {
      // Read for every track listed so far, and for the first one in any case.
      const std::uint64_t entry = name == "DAOX" ? kDaoxEntry : kDaoiEntry;
      if (length < kDaoHeader + std::max<std::uint64_t>(tracks, 1) * entry) return bad();
    } else if (name == "SINF" || name == "MTYP") {
      if (length != 4) return bad();
    } else if (name == "CDTX") {
      if (length % kCdTextPack != 0) return bad();
    } else if (name == "NERO" || name == "NER5") {
      return bad();
    }
    // Other chunks are skipped by their length.
    if (trackLists > 1) return unusable("it has more than one track list");
    if (tracks > kMaxTracks) return unusable("it lists more than 99 tracks");
    at += 8 + length;
  }
  if (tracks == 0) return unusable("it lists no tracks");
  return NrgVerdict::Usable;
}

NrgVerdict CheckNrgFile(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return NrgVerdict::NotNrg;
  struct stat st {};
  std::string tail;
  std::uint64_t size = 0;
  bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (read) {
    size = static_cast<std::uint64_t>(st.st_size);
    tail.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, kNrgListBytes)));
    read = ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())) ==
           static_cast<ssize_t>(tail.size());
  }
  ::close(fd);
  return read ? CheckNrg(size, tail, why) : NrgVerdict::NotNrg;
}
