// The online disc database's side of a lookup: the address asked, and the stored names made of
// its answer (JSON of the /ws/2/discid/ request).
#pragma once

#include <string>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "disc/DiscNames.h"
#include "lookup/DiscId.h"

// The disc asked by its identity, or (byToc) by its table of contents, which the service matches
// against discs it knows under other identities.
QUrl Disc_Lookup_Url(const QString& server, const Online_Disc_Id& disc, bool byToc);

struct Disc_Answer {
  enum class Kind { Names, No_Release, Unreadable };
  Kind kind = Kind::Unreadable;
  Outside_Names names;  // code page 932; a track the answer does not name is left empty
  std::string detail;   // what made the answer unreadable
};

// The release whose medium carries this disc's identity (the first of several); failing that,
// as a table-of-contents answer lists releases with other identities, the first medium with as
// many tracks as the disc has audio tracks.
Disc_Answer Names_From_Answer(const QByteArray& json, const Online_Disc_Id& disc);
