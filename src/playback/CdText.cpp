#include "playback/CdText.h"

#include <cdio/cdio.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPack = 18;
constexpr int kBlocks = 8;
constexpr std::uint8_t kTitle = 0x80, kPerformer = 0x81, kSizeInfo = 0x8F;
constexpr std::uint8_t kEnglish = 0x09, kJapanese = 0x69;
constexpr std::uint8_t kMsJis = 0x80;

struct Block {
  bool present = false, broken = false;
  std::array<std::uint8_t, 36> sizeInfo{};  // the three size-information packs' text
  struct Field {
    std::vector<std::uint8_t> bytes;  // the text of the type's packs, end to end
    int firstTrack = -1;
    bool doubleByte = false;
  } title, performer;
};

// The strings of a field, one per track from its first track on; a lone tab repeats the
// previous string.
std::vector<std::string> Strings(const Block::Field& field) {
  std::vector<std::string> out;
  const std::size_t width = field.doubleByte ? 2 : 1;
  std::string current;
  for (std::size_t i = 0; i + width <= field.bytes.size(); i += width) {
    const bool end = field.bytes[i] == 0 && (width == 1 || field.bytes[i + 1] == 0);
    if (!end) {
      current.append(reinterpret_cast<const char*>(&field.bytes[i]), width);
      continue;
    }
    const std::string tab(width, '\t');
    out.push_back(current == tab && !out.empty() ? out.back() : current);
    current.clear();
  }
  return out;
}

}  // namespace

std::uint16_t CdTextPackCrc(const std::uint8_t* pack) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    crc ^= static_cast<std::uint16_t>(pack[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<std::uint16_t>(~crc);
}

std::optional<DiscText> ParseCdTextPacks(const std::uint8_t* packs, std::size_t size) {
  std::array<Block, kBlocks> blocks;
  for (std::size_t at = 0; at + kPack <= size; at += kPack) {
    const std::uint8_t* p = packs + at;
    Block& block = blocks[(p[3] >> 4) & 7];
    block.present = true;
    const std::uint16_t crc = static_cast<std::uint16_t>(p[16] << 8 | p[17]);
    if (crc != 0 && crc != CdTextPackCrc(p)) block.broken = true;
    if (p[0] == kSizeInfo && p[1] < 3) {
      std::copy(p + 4, p + 16, block.sizeInfo.begin() + p[1] * 12);
    } else if (p[0] == kTitle || p[0] == kPerformer) {
      Block::Field& field = p[0] == kTitle ? block.title : block.performer;
      if (field.firstTrack < 0) {
        field.firstTrack = p[1] & 0x7F;
        field.doubleByte = (p[3] & 0x80) != 0;
      }
      field.bytes.insert(field.bytes.end(), p + 4, p + 16);
    }
  }
  int chosen = -1;
  for (const std::uint8_t language : {kJapanese, kEnglish})
    for (int b = 0; b < kBlocks && chosen < 0; ++b)
      if (blocks[b].present && !blocks[b].broken && blocks[b].sizeInfo[24 + 4 + b] == language)
        chosen = b;
  for (int b = 0; b < kBlocks && chosen < 0; ++b)
    if (blocks[b].present && !blocks[b].broken) chosen = b;
  if (chosen < 0) return std::nullopt;

  const Block& block = blocks[chosen];
  DiscText text;
  text.encoding =
      block.sizeInfo[0] == kMsJis ? DiscText::Encoding::Cp932 : DiscText::Encoding::Latin1;
  const int lastTrack = block.sizeInfo[2] ? block.sizeInfo[2] : 99;
  const auto place = [&](const Block::Field& field, std::string DiscText::Names::*name) {
    int track = field.firstTrack;
    for (std::string& s : Strings(field)) {
      if (track > lastTrack || track > 99) break;
      if (track == 0) {
        text.album.*name = std::move(s);
      } else {
        if (text.tracks.size() < static_cast<std::size_t>(track)) text.tracks.resize(track);
        text.tracks[track - 1].*name = std::move(s);
      }
      ++track;
    }
  };
  place(block.title, &DiscText::Names::title);
  place(block.performer, &DiscText::Names::performer);
  if (text.album == DiscText::Names{} && text.tracks.empty()) return std::nullopt;
  return text;
}

std::optional<DiscText> ReadCdioText(CdIo_t* cdio) {
  const driver_id_t driver = cdio_get_driver_id(cdio);
  if (driver != DRIVER_CDRDAO && driver != DRIVER_BINCUE && driver != DRIVER_NRG) {
    std::uint8_t* raw = cdio_get_cdtext_raw(cdio);
    if (!raw) return std::nullopt;
    // A length of the data after its own two bytes, then two reserved bytes, then the packs.
    const std::size_t length = static_cast<std::size_t>(raw[0] << 8 | raw[1]);
    auto text = ParseCdTextPacks(raw + 4, length > 2 ? length - 2 : 0);
    std::free(raw);
    return text;
  }
  const cdtext_t* cdtext = cdio_get_cdtext(cdio);
  if (!cdtext) return std::nullopt;
  // libcdio hands out a TOC file's text as Latin-1 turned into UTF-8; the bytes as the file holds
  // them are what was meant, in whatever encoding its editor saved.
  const bool fileBytes = driver == DRIVER_CDRDAO;
  const auto field = [&](cdtext_field_t key, track_t track) {
    const char* value = cdtext_get_const(cdtext, key, track);
    std::string s = value ? value : "";
    if (!fileBytes) return s;
    std::string bytes;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
        bytes += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(s[++i]) & 0x3F));
      } else {
        bytes += static_cast<char>(c);
      }
    }
    return bytes;
  };
  DiscText text;
  text.encoding = fileBytes ? DiscText::Encoding::Guess : DiscText::Encoding::Utf8;
  text.album = {field(CDTEXT_FIELD_TITLE, 0), field(CDTEXT_FIELD_PERFORMER, 0)};
  const track_t first = cdio_get_first_track_num(cdio), count = cdio_get_num_tracks(cdio);
  if (first != CDIO_INVALID_TRACK && count != CDIO_INVALID_TRACK)
    for (int t = first; t < first + count; ++t)
      text.tracks.push_back({field(CDTEXT_FIELD_TITLE, static_cast<track_t>(t)),
                             field(CDTEXT_FIELD_PERFORMER, static_cast<track_t>(t))});
  const bool any = text.album != DiscText::Names{} ||
                   std::any_of(text.tracks.begin(), text.tracks.end(),
                               [](const DiscText::Names& n) { return n != DiscText::Names{}; });
  if (!any) return std::nullopt;
  return text;
}
