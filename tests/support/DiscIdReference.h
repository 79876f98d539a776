#pragma once
// The online disc database's identity of a table of contents, computed here from its published
// definition rather than by the library the player uses: SHA-1 over the first and last track
// numbers ("%02X") and 100 offsets ("%08X", the lead-out first, zeros after the last track), in
// Base64 with '.', '_' and '-' for '+', '/' and '='.
#include <string>
#include <vector>

#include <QCryptographicHash>
#include <QString>

// offsets: the lead-out, then each track's start, all counted with the 150-sector lead-in.
inline std::string Reference_Disc_Id(int first, int last, const std::vector<int>& offsets) {
  QString text = QString::asprintf("%02X%02X", first, last);
  for (std::size_t i = 0; i < 100; ++i)
    text += QString::asprintf("%08X", i < offsets.size() ? offsets[i] : 0);
  return QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Sha1)
      .toBase64()
      .replace('+', '.')
      .replace('/', '_')
      .replace('=', '-')
      .toStdString();
}
