// CD_Object: the entry of the disc in the drive, read from and stored in the disc
// database cdplayer.ini through the profile operations. Names are code page 932 bytes.
//
// Where this departs from the profile-function original, on purpose:
//  - Read_Disc_Info reads the whole entry from one version of the file (a profile snapshot), so
//    an entry that another program is rewriting is never seen half old, half new.
//  - A stored "numtracks" above 99 (the most a CD holds) reads as 99; the device's count is
//    capped the same way.
//  - Write_Disc_Info stores the whole entry as one update: every key or, when the write fails,
//    none (key by key, the keys before a failing one would stay written).
//  - A value stored longer than 1023 bytes that is written back as read (its first 1023 bytes)
//    keeps its full stored text (the profile writer leaves a key alone that already reads as the
//    value written).
//  - Write_Disc_Info with an empty Disc_ID writes nothing: no "[]" entry that every unidentified
//    disc would share.
//  - A disc that carries its own names (CD-Text, or a CUE sheet's TITLE and PERFORMER lines)
//    gets them in place of the default names, key by key, where its entry has none. Reading
//    still writes nothing: they reach the file when the editor stores the entry.
//  - Write_Disc_Info creates the database's directory (mode 0700, as the XDG base directory rules
//    ask) when it is missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/DiscToc.h"

class CD_Object {
 public:
  explicit CD_Object(std::string databasePath);

  std::string Disc_ID;
  std::int32_t Entry_Type = 0;
  std::string Artist;
  std::string Title;
  std::int32_t Num_Tracks = 0;
  std::vector<std::string> Track_Titles;
  std::string Play_Order;
  std::int32_t Num_Play = 0;
  // Whether the database held an entry for the disc when it was read (a disc no program named
  // yet may be named online).
  bool Has_Entry = false;

  // discText: what the disc says of itself, or null.
  void Read_Disc_Info(const std::string& identity, std::int32_t deviceTrackCount,
                      const DiscText* discText = nullptr);
  void Write_Disc_Info();  // raises EProfileError when the file cannot be written
  void Fill_Track_List(std::vector<std::string>& target) const;

  const std::string& Database_Path() const { return databasePath_; }

  static constexpr std::int32_t kMaxTracks = 99;

 private:
  std::string databasePath_;
};

// "$XDG_DATA_HOME/cdplayer.ini", or "$HOME/.local/share/cdplayer.ini" when XDG_DATA_HOME is
// unset, empty or not absolute (as the XDG base directory rules say).
std::string Disc_Database_Path();

// The default names as code page 932 bytes.
namespace cd_defaults {
inline constexpr char kArtist[] = "\x90\x56\x82\xB5\x82\xA2\xB1\xB0\xC1\xBD\xC4";  // 新しいｱｰﾁｽﾄ
inline constexpr char kTitle[] = "\x90\x56\x82\xB5\x82\xA2\xC0\xB2\xC4\xD9";  // 新しいﾀｲﾄﾙ
inline constexpr char kTrack[] = "\xC4\xD7\xAF\xB8";                          // ﾄﾗｯｸ
}  // namespace cd_defaults

// The disc's section name in the database: its identity as uppercase hexadecimal of at least
// six digits (negative values as their 32-bit two's complement); empty when the identity is not
// an integer.
std::string Disc_ID_From_Identity(std::string_view identity);
