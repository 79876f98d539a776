#include "disc/Ucdobj.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "disc/DiscNames.h"
#include "profile/ProfileFile.h"
#include "profile/ProfilePaths.h"

CD_Object::CD_Object(std::string databasePath) : databasePath_(std::move(databasePath)) {}

void CD_Object::Read_Disc_Info(const std::string& identity, std::int32_t deviceTrackCount,
                               const DiscText* discText) {
  // A disc without an identity shares no entry with other unidentified discs: a "[]" section
  // that some program once wrote would otherwise name every one of them.
  const ProfileFile::Snapshot file =
      identity.empty() ? ProfileFile::Snapshot{} : ProfileFile(databasePath_).Read_Snapshot();
  // The disc's own names stand in for the defaults only while no program has named the disc:
  // an entry, however sparse, keeps the defaults for what it lacks.
  const auto stored = [&](const char* key) {
    return file.Profile_Read_String(identity, key, "\x01") != "\x01";
  };
  const bool hasEntry = !identity.empty() &&
                        (stored("artist") || stored("title") || stored("numtracks") || stored("0"));
  const Outside_Names own = discText && !hasEntry ? Names_From_Disc(*discText) : Outside_Names{};
  const auto byDefault = [](const std::string& name, std::string def) {
    return name.empty() ? def : name;
  };
  Disc_ID = identity;
  Has_Entry = hasEntry;
  Entry_Type = file.Profile_Read_Integer(Disc_ID, "EntryType", 1);
  Artist = file.Profile_Read_String(Disc_ID, "artist", byDefault(own.artist, cd_defaults::kArtist));
  Title = file.Profile_Read_String(Disc_ID, "title", byDefault(own.title, cd_defaults::kTitle));
  Play_Order.clear();
  Num_Tracks =
      std::min(file.Profile_Read_Integer(Disc_ID, "numtracks", deviceTrackCount), kMaxTracks);
  Track_Titles.clear();
  for (std::int32_t i = 0; i < Num_Tracks; ++i) {
    const std::string key = std::to_string(i);
    const auto index = static_cast<std::size_t>(i);
    Track_Titles.push_back(file.Profile_Read_String(
        Disc_ID, key,
        byDefault(index < own.tracks.size() ? own.tracks[index] : std::string(),
                  cd_defaults::kTrack + std::to_string(i + 1))));
    Play_Order.append(" ").append(key);
  }
  Play_Order = file.Profile_Read_String(Disc_ID, "order", Play_Order);
  Num_Play = file.Profile_Read_Integer(Disc_ID, "numplay", Num_Tracks);
}

void CD_Object::Write_Disc_Info() {
  if (Disc_ID.empty()) return;
  ProfileFile::Update u;
  u.Profile_Write_Integer(Disc_ID, "EntryType", Entry_Type);
  u.Profile_Write_String(Disc_ID, "artist", Artist);
  u.Profile_Write_String(Disc_ID, "title", Title);
  u.Profile_Write_Integer(Disc_ID, "numtracks", Num_Tracks);
  // The titles the object holds; should a caller have left fewer than Num_Tracks, the stored
  // titles beyond them stay as they are rather than being blanked.
  const std::int32_t titles =
      std::min<std::int64_t>(Num_Tracks, static_cast<std::int64_t>(Track_Titles.size()));
  for (std::int32_t i = 0; i < titles; ++i)
    u.Profile_Write_String(Disc_ID, std::to_string(i), Track_Titles[static_cast<std::size_t>(i)]);
  u.Profile_Write_String(Disc_ID, "order", Play_Order);
  u.Profile_Write_Integer(Disc_ID, "numplay", Num_Play);

  With_Parent_Folders(databasePath_, [&] { ProfileFile(databasePath_).Apply(u); });
}

void CD_Object::Fill_Track_List(std::vector<std::string>& target) const {
  target.clear();
  target.reserve(Track_Titles.size());
  for (std::size_t i = 0; i < Track_Titles.size(); ++i)
    target.push_back(std::to_string(i + 1).append(" ").append(Track_Titles[i]));
}

std::string Disc_Database_Path() {
  return Xdg_Base_Directory("XDG_DATA_HOME", ".local/share") + "/cdplayer.ini";
}

std::string Disc_ID_From_Identity(std::string_view identity) {
  const std::optional<std::int32_t> value = Profile_Str_To_Int(identity);
  if (!value) return {};
  char name[16];
  std::snprintf(name, sizeof name, "%06X", static_cast<std::uint32_t>(*value));
  return name;
}
