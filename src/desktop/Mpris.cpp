#include "desktop/Mpris.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QToolButton>

#include "app/Application.h"
#include "app/Startup.h"
#include "app/Umain.h"
#include "desktop/SessionEnd.h"
#include "device/Mci.h"
#include "device/Tmsf.h"
#include "disc/Cp932.h"
#include "log/Log.h"
#include "settings/PlayerSettings.h"

using namespace mci;

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

qlonglong Microseconds(std::uint32_t frames) {
  return qlonglong{frames} * 1000000 / tmsf::FramesPerSecond;
}

// Two names of one drive node or file are the same when they reach the same inode.
bool Same_File(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

Mpris_Root_Adaptor::Mpris_Root_Adaptor(Mpris_Service* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

Mpris_Player_Adaptor::Mpris_Player_Adaptor(Mpris_Service* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

Mpris_Service::Mpris_Service(TfrmMain& main, std::string device)
    : main_(main), device_(std::move(device)) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    qCWarning(lcDesktop).noquote()
        << "no session bus; media keys and desktop controls are off:" << bus.lastError().message();
    return;
  }
  new Mpris_Root_Adaptor(this);
  new Mpris_Player_Adaptor(this);
  if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
    qCWarning(lcDesktop) << "cannot offer the media-player object on the session bus";
    return;
  }
  if (!bus.registerService(QString::fromLatin1(kBusName))) {
    bus.unregisterObject(kObjectPath);
    qCWarning(lcDesktop) << "another player holds" << kBusName
                         << "on the session bus; desktop controls reach that one";
    return;
  }
  registered_ = true;
  published_ = {};
  Publish();
  poll_.setInterval(200);
  connect(&poll_, &QTimer::timeout, this, &Mpris_Service::Publish);
  poll_.start();
}

Mpris_Service::~Mpris_Service() {
  if (!registered_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(QString::fromLatin1(kBusName));
  bus.unregisterObject(kObjectPath);
}

std::uint8_t Mpris_Service::Mode() const {
  return main_.Device().Is_Open() ? main_.Device().Device_Mode() : std::uint8_t{Mode_Not_Ready};
}

// ---------------------------------------------------------------------------------------------
// Commands: each presses what the user would press, so a disabled button does nothing here too.

void Mpris_Service::Raise() {
  // As the overlay's "Disp Control" does: the clock would hide the window again otherwise.
  PlayerSettings.MainForm = true;
  main_.showNormal();
  main_.raise();
  main_.activateWindow();
}

void Mpris_Service::Quit() {
  Quit_Player();
}

void Mpris_Service::PlayPause() {
  const std::uint8_t mode = Mode();
  if ((mode == Mode_Stopped || mode == Mode_Playing) && main_.Play_Enabled()) main_.Play_Or_Stop();
  Publish();
}

void Mpris_Service::Play() {
  if (Mode() == Mode_Stopped && main_.Play_Enabled()) main_.Play_Or_Stop();
  Publish();
}

void Mpris_Service::Pause() {
  if (Mode() == Mode_Playing && main_.Play_Enabled()) main_.Play_Or_Stop();
  Publish();
}

void Mpris_Service::Stop() {
  Pause();
}

void Mpris_Service::Next() {
  if (main_.Next_Enabled()) main_.Next_Track();
  Publish();
}

void Mpris_Service::Previous() {
  if (main_.Previous_Enabled()) main_.Previous_Track();
  Publish();
}

void Mpris_Service::OpenUri(const QString& uri) {
  const std::string path = Device_From_Argument(QFile::encodeName(uri).toStdString());
  QString error;
  if (!device_.empty() && Same_File(path, device_)) {
    Raise();  // the drive this player plays already
    return;
  }
  if (main_.Insert_Image(path, &error)) {
    // The refresh that finds the disc enables the Play button: done now, a Play sent right
    // after this call would otherwise be refused until the clock's next refresh.
    Application::Guarded([this] { main_.Disp_Info(); });
    Raise();
    Publish();
    return;
  }
  qCWarning(lcDesktop).noquote() << "cannot open" << uri << "here:" << error;
  if (calledFromDBus())
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("cannot open %1: %2").arg(uri, error));
}

// ---------------------------------------------------------------------------------------------
// Properties

QString Mpris_Service::Playback_Status() const {
  switch (Mode()) {
    case Mode_Playing:
      return QStringLiteral("Playing");
    case Mode_Paused:
      return QStringLiteral("Paused");
    default:
      return QStringLiteral("Stopped");
  }
}

QString Mpris_Service::Loop_Status() const {
  if (main_.Repeat_Track()) return QStringLiteral("Track");
  if (main_.Repeat_Disc()) return QStringLiteral("Playlist");
  return QStringLiteral("None");
}

void Mpris_Service::Set_Loop_Status(const QString& status) {
  if (status == QLatin1String("Track")) {
    main_.Set_Repeat_Track(true);
  } else if (status == QLatin1String("Playlist")) {
    main_.Set_Repeat_Track(false);
    main_.Set_Repeat_Disc(true);
  } else if (status == QLatin1String("None")) {
    main_.Set_Repeat_Track(false);
    main_.Set_Repeat_Disc(false);
  }
  Publish();
}

QVariantMap Mpris_Service::Metadata() const {
  QVariantMap metadata;
  const CD_Object* disc = main_.Disc_Names();
  const std::uint8_t mode = Mode();
  const bool present = main_.Disc_Loaded() && disc &&
                       (mode == Mode_Stopped || mode == Mode_Playing || mode == Mode_Paused);
  const int track = present ? tmsf::Track(main_.Device().Device_Position()) : 0;
  if (track < 1) {
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(
                        QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"))));
    return metadata;
  }
  metadata.insert(
      QStringLiteral("mpris:trackid"),
      QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/zarncd/disc/track%1").arg(track))));
  metadata.insert(QStringLiteral("xesam:trackNumber"), track);
  if (track <= static_cast<int>(disc->Track_Titles.size()))
    metadata.insert(QStringLiteral("xesam:title"),
                    Cp932_To_QString(disc->Track_Titles[static_cast<std::size_t>(track - 1)]));
  metadata.insert(QStringLiteral("xesam:album"), Cp932_To_QString(disc->Title));
  metadata.insert(QStringLiteral("xesam:artist"), QStringList{Cp932_To_QString(disc->Artist)});
  // Asked of the driver itself: a query through the device object would count as the player's.
  MciParams params;
  params.item = MCI_STATUS_LENGTH;
  params.track = static_cast<std::uint32_t>(track);
  if (main_.Device().Driver().send(MCI_STATUS, MCI_STATUS_ITEM | MCI_TRACK | MCI_WAIT, params) == 0)
    metadata.insert(QStringLiteral("mpris:length"),
                    Microseconds(tmsf::FramesFromMsf(params.returnValue)));
  return metadata;
}

qlonglong Mpris_Service::Position() const {
  const std::uint8_t mode = Mode();
  if (mode != Mode_Playing && mode != Mode_Stopped && mode != Mode_Paused) return 0;
  const std::uint32_t p = main_.Device().Device_Position();
  return Microseconds(tmsf::Minutes(p) * tmsf::FramesPerMinute +
                      tmsf::Seconds(p) * tmsf::FramesPerSecond + tmsf::Frames(p));
}

// Play while playing is harmless (it is ignored), and desktop clients treat a player that
// cannot play as one to leave alone; so CanPlay holds wherever the Play button acts.
bool Mpris_Service::Can_Play() const {
  const std::uint8_t mode = Mode();
  return main_.Play_Enabled() && (mode == Mode_Stopped || mode == Mode_Playing);
}
bool Mpris_Service::Can_Pause() const {
  return main_.Play_Enabled() && Mode() == Mode_Playing;
}
bool Mpris_Service::Can_Go_Next() const {
  return main_.Next_Enabled() && main_.Disc_Loaded();
}
bool Mpris_Service::Can_Go_Previous() const {
  return main_.Previous_Enabled() && main_.Disc_Loaded();
}

void Mpris_Service::Publish() {
  if (!registered_) return;
  const QVariantMap now{
      {QStringLiteral("PlaybackStatus"), Playback_Status()},
      {QStringLiteral("LoopStatus"), Loop_Status()},
      {QStringLiteral("Metadata"), Metadata()},
      {QStringLiteral("CanPlay"), Can_Play()},
      {QStringLiteral("CanPause"), Can_Pause()},
      {QStringLiteral("CanGoNext"), Can_Go_Next()},
      {QStringLiteral("CanGoPrevious"), Can_Go_Previous()},
  };
  QVariantMap changed;
  for (auto it = now.cbegin(); it != now.cend(); ++it)
    if (published_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
  published_ = now;
  if (changed.isEmpty()) return;
  QDBusMessage signal =
      QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"));
  signal << kPlayerInterface << changed << QStringList{};
  QDBusConnection::sessionBus().send(signal);
}

// ---------------------------------------------------------------------------------------------
// One player per desktop

bool Mpris_Service::Hand_Over(const std::string& device) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  const QString name = QString::fromLatin1(kBusName);
  if (!bus.interface() || !bus.interface()->isServiceRegistered(name)) return false;
  // The running player may have another working directory. The name goes as the command line
  // holds its bytes, which need not be UTF-8.
  std::string path = device;
  if (path.empty()) return false;  // the default drive: nothing to hand over
  if (path.front() != '/') {
    char here[PATH_MAX];
    if (!::getcwd(here, sizeof here)) return false;
    path = std::string(here) + "/" + path;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(name, kObjectPath, kPlayerInterface,
                                                     QStringLiteral("OpenUri"));
  call << QString::fromLatin1(File_Uri(path));
  const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  qCInfo(lcDesktop).noquote() << "the running player did not take"
                              << QFile::decodeName(QByteArray::fromStdString(path)) << ":"
                              << reply.errorMessage();
  return false;
}
