#pragma once
// The online identity from its published definition, not from the library the player uses:
// SHA-1 over the first and last track ("%02X") and 100 offsets ("%08X", with the 150-sector
// lead-in: the lead-out, each track's start, zeros), in Base64 with '.', '_', '-' for '+', '/',
// '='.
#include <string>
#include <vector>

#include <QCryptographicHash>
#include <QString>

inline std::string Reference_Disc_Id(int first, int last, const std::vector<int>& offsets) {
  QString text = QString::asprintf("%02X%02X", first, last);
  for (std::size_t i = 0; i < 100; ++i)
    text += QString::asprintf("%08X", i < offsets.size() ? offsets[i] : 0);
  QByteArray id = QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Sha1).toBase64();
  return id.replace('+', '.').replace('/', '_').replace('=', '-').toStdString();
}
