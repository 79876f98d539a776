#pragma once
// The player on the desktop bus: the media-player interfaces that media keys, panel widgets and
// playerctl speak (object /org/mpris/MediaPlayer2, name org.mpris.MediaPlayer2.zarncd).
// Every command ends in the handler of the button or check box that does the same, on the GUI
// thread, so the bus can do nothing the window could not. The player has no pause: Pause stops,
// as the Play button does while playing.
//
// Changes are found as the window finds them, by polling: a 200 ms look at what the properties
// would answer, and PropertiesChanged for those that differ (never for Position).
#include <string>

#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

class TfrmMain;

class Mpris_Service : public QObject, protected QDBusContext {
  Q_OBJECT

 public:
  static constexpr const char* kBusName = "org.mpris.MediaPlayer2.zarncd";

  // Takes the name on the session bus. Without a bus, or with the name taken, says so once on
  // stderr and stays off; the player runs as before. `device` is what the player opened.
  Mpris_Service(TfrmMain& main, std::string device);
  ~Mpris_Service() override;

  // A second copy started on a drive or image gives it to the running player: true when a player
  // on the bus took it (its device is an image, or the same drive), and this copy may end.
  static bool Hand_Over(const std::string& device);

  // org.mpris.MediaPlayer2
  void Raise();
  void Quit();
  // org.mpris.MediaPlayer2.Player
  void PlayPause();
  void Play();
  void Pause();
  void Stop();
  void Next();
  void Previous();
  void OpenUri(const QString& uri);
  QString Playback_Status() const;
  QString Loop_Status() const;
  void Set_Loop_Status(const QString& status);
  QVariantMap Metadata() const;
  qlonglong Position() const;
  bool Can_Play() const;
  bool Can_Pause() const;
  bool Can_Go_Next() const;
  bool Can_Go_Previous() const;

 private:
  // Emits PropertiesChanged for every player property whose answer changed since the last look.
  void Publish();
  std::uint8_t Mode() const;

  TfrmMain& main_;
  std::string device_;
  bool registered_ = false;
  QTimer poll_;
  QVariantMap published_;
};

class Mpris_Root_Adaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit Mpris_Root_Adaptor(Mpris_Service* service);
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Zarn's CDPlayer"); }
  QString DesktopEntry() const { return QStringLiteral("zarncd"); }
  QStringList SupportedUriSchemes() const { return {"file", "cdda"}; }
  QStringList SupportedMimeTypes() const {
    return {"application/x-cue", "application/x-cdrdao-toc", "application/x-nrg",
            "x-content/audio-cdda"};
  }

 public Q_SLOTS:
  void Raise() { service_->Raise(); }
  void Quit() { service_->Quit(); }

 private:
  Mpris_Service* service_;
};

class Mpris_Player_Adaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE setLoopStatus)
  Q_PROPERTY(double Rate READ Rate WRITE setRate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(double Volume READ Volume WRITE setVolume)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit Mpris_Player_Adaptor(Mpris_Service* service);
  QString PlaybackStatus() const { return service_->Playback_Status(); }
  QString LoopStatus() const { return service_->Loop_Status(); }
  void setLoopStatus(const QString& status) { service_->Set_Loop_Status(status); }
  // The drive plays at its own speed and volume; the desktop's mixer sets the loudness.
  double Rate() const { return 1.0; }
  void setRate(double) {}
  double Volume() const { return 1.0; }
  void setVolume(double) {}
  QVariantMap Metadata() const { return service_->Metadata(); }
  qlonglong Position() const { return service_->Position(); }
  bool CanGoNext() const { return service_->Can_Go_Next(); }
  bool CanGoPrevious() const { return service_->Can_Go_Previous(); }
  bool CanPlay() const { return service_->Can_Play(); }
  bool CanPause() const { return service_->Can_Pause(); }
  bool CanSeek() const { return false; }
  bool CanControl() const { return true; }

 public Q_SLOTS:
  void PlayPause() { service_->PlayPause(); }
  void Play() { service_->Play(); }
  void Pause() { service_->Pause(); }
  void Stop() { service_->Stop(); }
  void Next() { service_->Next(); }
  void Previous() { service_->Previous(); }
  void Seek(qlonglong) {}
  void SetPosition(const QDBusObjectPath&, qlonglong) {}
  void OpenUri(const QString& uri) { service_->OpenUri(uri); }

 Q_SIGNALS:
  void Seeked(qlonglong position);

 private:
  Mpris_Service* service_;
};
