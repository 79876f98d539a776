#include "lookup/MusicBrainz.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

QUrl Disc_Lookup_Url(const QString& server, const Online_Disc_Id& disc, bool byToc) {
  QString base = server;
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  QString url = base + QStringLiteral("/ws/2/discid/") + QString::fromStdString(disc.id) +
                QStringLiteral("?");
  if (byToc) url += QStringLiteral("toc=") + QString::fromStdString(disc.toc) + QStringLiteral("&");
  // A "CD stub" (names typed by someone without a release) is another shape, and less sure.
  url += QStringLiteral("cdstubs=no&inc=artist-credits+recordings&fmt=json");
  return QUrl(url);
}

namespace {

std::string Stored(const QString& text) {
  return Cp932_From_Outside(text.toStdString());
}

// The credit as printed: each name followed by its join phrase ("A feat. B").
QString Credit(const QJsonValue& credit) {
  QString text;
  for (const QJsonValue& name : credit.toArray())
    text += name[QStringLiteral("name")].toString() + name[QStringLiteral("joinphrase")].toString();
  return text;
}

struct Choice {
  QJsonObject release, medium;
  int media = 0;
};

std::optional<Choice> Choose(const QJsonArray& releases, const Online_Disc_Id& disc) {
  const QString id = QString::fromStdString(disc.id);
  for (const QJsonValue& release : releases) {
    const QJsonArray media = release[QStringLiteral("media")].toArray();
    for (const QJsonValue& medium : media)
      for (const QJsonValue& d : medium[QStringLiteral("discs")].toArray())
        if (d[QStringLiteral("id")].toString() == id)
          return Choice{release.toObject(), medium.toObject(), static_cast<int>(media.size())};
  }
  for (const QJsonValue& release : releases) {
    const QJsonArray media = release[QStringLiteral("media")].toArray();
    for (const QJsonValue& medium : media)
      if (medium[QStringLiteral("tracks")].toArray().size() == disc.audio_tracks)
        return Choice{release.toObject(), medium.toObject(), static_cast<int>(media.size())};
  }
  return std::nullopt;
}

}  // namespace

Disc_Answer Names_From_Answer(const QByteArray& json, const Online_Disc_Id& disc) {
  Disc_Answer answer;
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError) {
    answer.detail = error.errorString().toStdString();
    return answer;
  }
  const QJsonValue releases = document.object().value(QStringLiteral("releases"));
  if (!document.isObject() || !releases.isArray()) {
    answer.detail = "no list of releases";
    return answer;
  }
  const std::optional<Choice> choice = Choose(releases.toArray(), disc);
  if (!choice) {
    answer.kind = Disc_Answer::Kind::No_Release;
    return answer;
  }

  const QString artist = Credit(choice->release[QStringLiteral("artist-credit")]);
  QString title = choice->release[QStringLiteral("title")].toString();
  if (choice->media > 1) {
    const QString medium = choice->medium[QStringLiteral("title")].toString();
    title +=
        medium.isEmpty()
            ? QStringLiteral(" (Disc %1)").arg(choice->medium[QStringLiteral("position")].toInt())
            : QStringLiteral(" (%1)").arg(medium);
  }
  answer.kind = Disc_Answer::Kind::Names;
  answer.names.artist = Stored(artist);
  answer.names.title = Stored(title);
  for (const QJsonValue& track : choice->medium[QStringLiteral("tracks")].toArray()) {
    const QJsonValue recording = track[QStringLiteral("recording")];
    QString name = track[QStringLiteral("title")].toString();
    if (name.isEmpty()) name = recording[QStringLiteral("title")].toString();
    QJsonValue credit = track[QStringLiteral("artist-credit")];
    if (!credit.isArray()) credit = recording[QStringLiteral("artist-credit")];
    // Compared as received: two credits that differ only in what CP932 cannot hold still differ.
    const QString performer = Credit(credit);
    answer.names.tracks.push_back(performer.isEmpty() || performer == artist
                                      ? Stored(name)
                                      : Track_Name({}, Stored(performer), Stored(name)));
  }
  return answer;
}
