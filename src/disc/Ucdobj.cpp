#include "disc/Ucdobj.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "profile/ProfileFile.h"

namespace {

// Creates the directories of `dir` that are missing, each with mode 0700.
void MakeDirectories(const std::string& dir, const std::string& forPath) {
  if (dir.empty()) return;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    std::string part = dir.substr(0, pos);
    if (part.empty()) continue;
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) throw EProfileError(forPath, errno);
  }
}

}  // namespace

CD_Object::CD_Object(std::string databasePath) : databasePath_(std::move(databasePath)) {}

void CD_Object::Read_Disc_Info(const std::string& identity, std::int32_t deviceTrackCount) {
  // A disc without an identity shares no entry with other unidentified discs: a "[]" section
  // that some program once wrote would otherwise name every one of them.
  const ProfileFile::Snapshot file =
      identity.empty() ? ProfileFile::Snapshot{} : ProfileFile(databasePath_).Read_Snapshot();
  Disc_ID = identity;
  Entry_Type = file.Profile_Read_Integer(Disc_ID, "EntryType", 1);
  Artist = file.Profile_Read_String(Disc_ID, "artist", cd_defaults::kArtist);
  Title = file.Profile_Read_String(Disc_ID, "title", cd_defaults::kTitle);
  Play_Order.clear();
  Num_Tracks =
      std::min(file.Profile_Read_Integer(Disc_ID, "numtracks", deviceTrackCount), kMaxTracks);
  Track_Titles.clear();
  for (std::int32_t i = 0; i < Num_Tracks; ++i) {
    const std::string key = std::to_string(i);
    Track_Titles.push_back(
        file.Profile_Read_String(Disc_ID, key, cd_defaults::kTrack + std::to_string(i + 1)));
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

  auto slash = databasePath_.rfind('/');
  if (slash != std::string::npos && slash > 0)
    MakeDirectories(databasePath_.substr(0, slash), databasePath_);
  ProfileFile(databasePath_).Apply(u);
}

void CD_Object::Fill_Track_List(std::vector<std::string>& target) const {
  target.clear();
  target.reserve(Track_Titles.size());
  for (std::size_t i = 0; i < Track_Titles.size(); ++i)
    target.push_back(std::to_string(i + 1).append(" ").append(Track_Titles[i]));
}

std::string Disc_Database_Path() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/cdplayer.ini";
  const char* home = std::getenv("HOME");
  std::string base = (home && home[0]) ? home : "";
  if (base.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) base = pw->pw_dir;
  }
  return base + "/.local/share/cdplayer.ini";
}
