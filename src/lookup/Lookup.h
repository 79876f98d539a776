// Naming a disc online: the request to the disc database, sent only where the user asked for it
// (the display panel's menu, or [Lookup] Online=1 in ZarnCD.ini for discs without an entry), and
// the names it brings stored as the editor stores them, all keys or none.
//
// Nothing here waits: the request runs on the event loop, ends after 10 s at the latest, and
// requests leave at most once a second, as the service asks of every client. An answer for a
// disc that has since left the drive is dropped.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include "device/DiscToc.h"
#include "disc/Ucdobj.h"
#include "lookup/DiscId.h"

class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QWidget;

// Section [Lookup] of ZarnCD.ini. The program never writes it: only the user does, by hand.
struct Lookup_Settings {
  bool online = false;
  QString server = QStringLiteral("https://musicbrainz.org");
};
Lookup_Settings Read_Lookup_Settings();

// "zarncd/<version> ( <contact> )": the service refuses clients that do not say who they are.
QString Lookup_User_Agent();

class TDiscLookup : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTimeoutMs = 10000;
  static constexpr int kIntervalMs = 1000;

  // currentDisc: the disc in the drive now, null while there is none; asked when an answer
  // arrives. Message boxes open over `window`.
  TDiscLookup(QWidget* window, std::function<const CD_Object*()> currentDisc);
  ~TDiscLookup() override;

  // A disc was identified: looked up by itself when the user allowed it and the disc has no entry.
  void Disc_Identified(const CD_Object& disc, const DiscToc* toc);
  // The menu item: looks up the disc, asking first when that replaces a stored entry; says in a
  // message box what went wrong.
  void Look_Up_On_Request(const CD_Object* disc, const DiscToc* toc);

  // After names were stored, so that the window reads the entry again.
  std::function<void()> On_Stored;
  // Asks the user a yes/no question; a message box unless a test answers.
  std::function<bool(const QString&)> Confirm;

  bool Busy() const { return request_.has_value(); }
  // The last message shown to the user, while it is open; null otherwise. For the tests.
  QMessageBox* Message() const { return message_; }

 private:
  struct Request {
    std::string entry;        // the disc's section in the disc database
    std::int32_t tracks = 0;  // the disc's track count, part of what identifies it here
    Online_Disc_Id disc;
    bool on_request = false;
    bool by_toc = false;
  };

  void Start(const CD_Object& disc, const DiscToc& toc, bool onRequest);
  void Send();
  void Finished(QNetworkReply* reply);
  void Answered(const QByteArray& body);
  void Fail(const QString& text, bool show);
  bool Still_In_Drive() const;
  void Show_Message(const QString& text, bool rich);

  QWidget* window_;
  std::function<const CD_Object*()> currentDisc_;
  QNetworkAccessManager* network_ = nullptr;
  QTimer* pacer_ = nullptr;    // holds a request back until a second has passed since the last
  QTimer* timeout_ = nullptr;  // ends a request that takes too long
  QPointer<QNetworkReply> reply_;
  bool timedOut_ = false;
  QString server_;
  std::optional<Request> request_;
  std::optional<QElapsedTimer> lastSent_;
  QPointer<QMessageBox> message_;
};
