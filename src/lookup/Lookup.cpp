#include "lookup/Lookup.h"

#include <exception>

#include <QLoggingCategory>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QWidget>

#include "Version.h"
#include "lookup/MusicBrainz.h"
#include "profile/ProfileFile.h"
#include "settings/PlayerSettings.h"

Q_LOGGING_CATEGORY(lcLookup, "zarncd.lookup")

namespace {
constexpr char kSection[] = "Lookup";
constexpr char kContact[] = "zarncd@users.noreply.github.com";

// Whether the database holds an entry for the disc now: another program, or the editor, may have
// stored one since the disc was identified.
bool Entry_Stored(const std::string& entry, std::int32_t tracks) {
  CD_Object stored(Disc_Database_Path());
  stored.Read_Disc_Info(entry, tracks);
  return stored.Has_Entry;
}
}  // namespace

Lookup_Settings Read_Lookup_Settings() {
  const ProfileFile::Snapshot file = ProfileFile(Settings_File_Path()).Read_Snapshot();
  Lookup_Settings settings;
  settings.online = file.Profile_Read_Integer(kSection, "Online", 0) == 1;
  const std::string server = file.Profile_Read_String(kSection, "Server", "");
  if (!server.empty()) settings.server = QString::fromStdString(server).trimmed();
  return settings;
}

QString Lookup_User_Agent() {
  return QStringLiteral("zarncd/%1 ( %2 )").arg(QStringLiteral(ZARNCD_VERSION), kContact);
}

TDiscLookup::TDiscLookup(QWidget* window, std::function<const CD_Object*()> currentDisc)
    : QObject(window), window_(window), currentDisc_(std::move(currentDisc)) {
  Confirm = [this](const QString& question) {
    return QMessageBox::question(window_, QStringLiteral("Look Up Disc Names"), question) ==
           QMessageBox::Yes;
  };
  pacer_ = new QTimer(this);
  pacer_->setSingleShot(true);
  connect(pacer_, &QTimer::timeout, this, &TDiscLookup::Send);
  timeout_ = new QTimer(this);
  timeout_->setSingleShot(true);
  timeout_->setInterval(kTimeoutMs);
  connect(timeout_, &QTimer::timeout, this, [this] {
    timedOut_ = true;
    if (reply_) reply_->abort();
  });
}

TDiscLookup::~TDiscLookup() {
  if (QNetworkReply* old = reply_) {
    reply_ = nullptr;
    old->abort();
  }
}

void TDiscLookup::Disc_Identified(const CD_Object& disc, const DiscToc* toc) {
  if (!toc || disc.Has_Entry || disc.Disc_ID.empty()) return;
  const Lookup_Settings settings = Read_Lookup_Settings();
  if (!settings.online) return;
  server_ = settings.server;
  Start(disc, *toc, false);
}

void TDiscLookup::Look_Up_On_Request(const CD_Object* disc, const DiscToc* toc) {
  if (!disc || !toc || disc->Disc_ID.empty()) {
    Show_Message(QStringLiteral("There is no disc to look up."), false);
    return;
  }
  if (Entry_Stored(disc->Disc_ID, disc->Num_Tracks) &&
      !Confirm(QStringLiteral("Replace the names stored for this disc?")))
    return;
  server_ = Read_Lookup_Settings().server;
  Start(*disc, *toc, true);
}

void TDiscLookup::Start(const CD_Object& disc, const DiscToc& toc, bool onRequest) {
  const std::optional<Online_Disc_Id> id = Online_Disc_Id_From(toc);
  if (!id) {
    request_.reset();
    Fail(QStringLiteral("This disc has no audio tracks to look up."), onRequest);
    return;
  }
  // A request for a disc that has left is no longer wanted.
  if (QNetworkReply* old = reply_) {
    reply_ = nullptr;
    old->abort();
  }
  request_ = Request{disc.Disc_ID, disc.Num_Tracks, *id, onRequest, false};
  Send();
}

void TDiscLookup::Send() {
  if (!request_ || reply_) return;
  if (lastSent_ && lastSent_->elapsed() < kIntervalMs) {
    pacer_->start(static_cast<int>(kIntervalMs - lastSent_->elapsed()));
    return;
  }
  if (!network_) network_ = new QNetworkAccessManager(this);
  QNetworkRequest request(Disc_Lookup_Url(server_, request_->disc, request_->by_toc));
  request.setHeader(QNetworkRequest::UserAgentHeader, Lookup_User_Agent());
  request.setRawHeader("Accept", "application/json");
  lastSent_.emplace();
  lastSent_->start();
  timedOut_ = false;
  reply_ = network_->get(request);
  QNetworkReply* reply = reply_;
  connect(reply, &QNetworkReply::finished, this, [this, reply] { Finished(reply); });
  timeout_->start();
}

bool TDiscLookup::Still_In_Drive() const {
  const CD_Object* current = currentDisc_ ? currentDisc_() : nullptr;
  return current && request_ && current->Disc_ID == request_->entry &&
         current->Num_Tracks == request_->tracks;
}

void TDiscLookup::Finished(QNetworkReply* reply) {
  reply->deleteLater();
  if (reply != reply_) return;  // aborted for a newer request
  reply_ = nullptr;
  timeout_->stop();
  if (!request_) return;
  if (!Still_In_Drive()) {
    qCInfo(lcLookup, "the answer for disc %s came after the disc left; dropped",
           request_->disc.id.c_str());
    request_.reset();
    return;
  }
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (timedOut_) {
    Fail(QStringLiteral("MusicBrainz could not be reached: no answer within %1 s")
             .arg(kTimeoutMs / 1000),
         request_->on_request);
  } else if (status == 404) {
    if (!request_->by_toc) {
      // Unknown by its identity; the service may know the same table of contents under another.
      request_->by_toc = true;
      Send();
      return;
    }
    Answered(R"({"releases": []})");
  } else if (status >= 400 || (status == 0 && reply->error() != QNetworkReply::NoError)) {
    const QString reason =
        status ? QStringLiteral("HTTP %1 %2")
                     .arg(status)
                     .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
               : reply->errorString();
    Fail(QStringLiteral("MusicBrainz could not be reached: %1").arg(reason.trimmed()),
         request_->on_request);
  } else {
    Answered(reply->readAll());
  }
}

void TDiscLookup::Answered(const QByteArray& body) {
  const Request request = *request_;
  request_.reset();
  const Disc_Answer answer = Names_From_Answer(body, request.disc);
  if (answer.kind == Disc_Answer::Kind::Unreadable) {
    Fail(QStringLiteral("MusicBrainz gave an answer that could not be read: %1")
             .arg(QString::fromStdString(answer.detail)),
         request.on_request);
    return;
  }
  if (answer.kind == Disc_Answer::Kind::No_Release) {
    qCWarning(lcLookup, "no names found for disc %s", request.disc.id.c_str());
    const QString url = QString::fromStdString(request.disc.submission_url).toHtmlEscaped();
    if (request.on_request)
      Show_Message(QStringLiteral("No names found for this disc.<br><br>You can add it at:<br>"
                                  "<a href=\"%1\">%1</a>")
                       .arg(url),
                   true);
    return;
  }
  // An automatic lookup never replaces an entry, even one stored while it waited.
  if (!request.on_request && Entry_Stored(request.entry, request.tracks)) return;

  CD_Object disc = *currentDisc_();
  const auto take = [](std::string& name, const std::string& found) {
    if (!found.empty()) name = found;
  };
  take(disc.Artist, answer.names.artist);
  take(disc.Title, answer.names.title);
  for (std::size_t i = 0; i < answer.names.tracks.size() && i < disc.Track_Titles.size(); ++i)
    take(disc.Track_Titles[i], answer.names.tracks[i]);
  try {
    disc.Write_Disc_Info();
  } catch (const std::exception& e) {
    Fail(QStringLiteral("The names could not be stored: %1").arg(QString::fromLocal8Bit(e.what())),
         request.on_request);
    return;
  }
  qCInfo(lcLookup, "names of disc %s stored", request.disc.id.c_str());
  if (On_Stored) On_Stored();
}

void TDiscLookup::Fail(const QString& text, bool show) {
  qCWarning(lcLookup, "%s", qUtf8Printable(text));
  request_.reset();
  if (show) Show_Message(text, false);
}

void TDiscLookup::Show_Message(const QString& text, bool rich) {
  // Not modal: the window and its clock go on while the message is up.
  if (message_) message_->close();
  message_ = new QMessageBox(QMessageBox::Information, QStringLiteral("Look Up Disc Names"), text,
                             QMessageBox::Ok, window_);
  message_->setAttribute(Qt::WA_DeleteOnClose);
  message_->setTextFormat(rich ? Qt::RichText : Qt::PlainText);
  message_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  message_->show();
}
