// Names that come from outside the program (a disc's CD-Text, an image's CUE sheet, a lookup)
// made into stored names: code page 932 like every name of the database, and never refused.
// What CP932 cannot hold is transliterated ("Beyoncé" becomes "Beyonce"); only a character
// without a transliteration becomes "?". A name the user types is a different matter: the
// editor refuses what CP932 cannot hold rather than store a "?" the user never wrote.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/DiscToc.h"

// UTF-8 text as code page 932, transliterated where needed; bytes that are not UTF-8 become "?".
std::string Cp932_From_Outside(std::string_view utf8);

// One name of a disc, as the disc's encoding says, as code page 932. Shift-JIS bytes are kept as
// they are; a sheet's bytes are read as UTF-8, else as code page 932, else as code page 1252.
std::string Cp932_From_Disc(std::string_view text, DiscText::Encoding encoding);

// A track's name where its performer is not the album's (a compilation): "performer / title".
// All three in one encoding; empty when the track has no title.
std::string Track_Name(std::string_view albumPerformer, std::string_view performer,
                       std::string_view title);

// The names a disc gives itself, as stored names. An empty one (nothing on the disc) leaves the
// default name in place.
struct Outside_Names {
  std::string artist, title;
  std::vector<std::string> tracks;  // track 1 first
};
Outside_Names Names_From_Disc(const DiscText& text);
