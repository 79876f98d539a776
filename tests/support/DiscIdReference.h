#pragma once
// The online disc database's identity of a table of contents, computed here from its published
// definition rather than by the library the player uses: SHA-1 over the first and last track
// numbers ("%02X") and 100 offsets ("%08X", the lead-out first, zeros after the last track), in
// Base64 with '.', '_' and '-' for '+', '/' and '='.
#include <cstdio>
#include <string>
#include <vector>

#include <QCryptographicHash>

// offsets: the lead-out, then each track's start, all counted with the 150-sector lead-in.
inline std::string Reference_Disc_Id(int first, int last, const std::vector<int>& offsets) {
  char field[16];
  std::string text;
  std::snprintf(field, sizeof field, "%02X%02X", first, last);
  text += field;
  for (int i = 0; i < 100; ++i) {
    std::snprintf(field, sizeof field, "%08X",
                  i < static_cast<int>(offsets.size()) ? offsets[static_cast<std::size_t>(i)] : 0);
    text += field;
  }
  QByteArray id =
      QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha1)
          .toBase64();
  id.replace('+', '.').replace('/', '_').replace('=', '-');
  return id.toStdString();
}
