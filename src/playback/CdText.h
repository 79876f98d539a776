#pragma once
// CD-Text: the names a disc carries in the lead-in of its first session, as blocks of 18-byte
// packs (a type, a track, a sequence number, block and character position, 12 bytes of text,
// a CRC), up to eight blocks in different languages. Drives hand out the packs (READ TOC/PMA/ATIP
// format 5); cdrdao TOC files write the text out, and libcdio reads both.
//
// The packs are read here rather than by libcdio's parser, which decodes every block with the
// character code of the last block (a Japanese block before an English one comes out as Latin-1
// mojibake) and gives the title after a track without one to that track.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/DiscToc.h"

// The names of the packs' preferred block: Japanese, else English, else the first. Packs whose
// CRC is wrong spoil their block (a zero CRC, which some drives hand out, is taken as no CRC).
// Nullopt when no block names anything.
std::optional<DiscText> ParseCdTextPacks(const std::uint8_t* packs, std::size_t size);

// The CRC a pack carries in its last two bytes: CRC-16 (CCITT) of the first 16, inverted.
std::uint16_t CdTextPackCrc(const std::uint8_t* pack);

// The CD-Text of an opened libcdio source: a drive asked for its packs, or the CD_TEXT block of a
// cdrdao TOC file. Nullopt when it has none. Blocks on a drive; call it where the table of
// contents is read.
struct _CdIo;
std::optional<DiscText> ReadCdioText(_CdIo* cdio);
