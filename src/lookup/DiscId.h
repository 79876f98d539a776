// The identity by which the online disc database knows a disc: computed from the table of
// contents the player already has, for drives and images alike, so nothing is read twice.
#pragma once

#include <optional>
#include <string>

#include "device/DiscToc.h"

struct Online_Disc_Id {
  std::string id;              // 28 characters
  int audio_tracks = 0;        // the tracks the identity covers, 1 to the last audio track
  std::string toc;             // "first last leadout offset1 ..." with '+' between, for a query
  std::string submission_url;  // where a user can add the disc to the database
};

// Nullopt for a disc without an audio track. A disc whose last tracks are data (an enhanced CD)
// is identified by its audio tracks alone, ending 11,400 sectors (the second session's lead-in
// and lead-out) before the first of those data tracks.
std::optional<Online_Disc_Id> Online_Disc_Id_From(const DiscToc& toc);
