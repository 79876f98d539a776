#include "desktop/ImageDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include "app/Startup.h"
#include "app/Umain.h"
#include "log/Log.h"
#include "overlay/Usthrou.h"
#include "playback/CdioDriver.h"
#include "playback/CueImage.h"

bool Insert_Image(TfrmMain& main, const std::string& path, QString* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = QFile::decodeName(QByteArray::fromStdString(why));
    return false;
  };
  auto* driver = dynamic_cast<CdioDriver*>(&main.Device().Driver());
  if (!driver) return fail(path + ": this device takes no image files");
  // Asked first: a device that cannot take the image keeps its disc.
  std::string why;
  if (!driver->takesImages(&why)) return fail(path + ": " + why);
  // Read before anything moves, so that a bad file leaves the disc that plays alone.
  if (!ReadImageToc(path, &why)) return fail(path + ": " + why);
  // Out with the old disc as Eject does, and let one refresh see the tray open: only a disc
  // that was not loaded is identified when it appears. A failure on the way is the answer, not
  // an error report of its own: the caller tells the user or the other program.
  try {
    main.spdEjectClick();
    main.Disp_Info();
  } catch (const std::exception& e) {
    return fail(path + ": " + e.what());
  }
  if (!driver->insertImage(path, &why)) return fail(why);
  return true;
}

Image_Drop_Target::Image_Drop_Target(TfrmMain& main, QWidget& window)
    : QObject(&window), main_(main) {
  window.setAcceptDrops(true);
  window.installEventFilter(this);
}

namespace {

// The one local file a drag carries; empty when it carries none or several.
QString Local_File(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

bool Image_Drop_Target::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (Local_File(drag->mimeData()).isEmpty()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString file = Local_File(drop->mimeData());
      if (file.isEmpty()) return false;
      drop->acceptProposedAction();
      QString error;
      if (!Insert_Image(main_, QFile::encodeName(file).toStdString(), &error)) {
        qCWarning(lcDesktop).noquote() << "dropped file refused:" << error;
        // Window-modal and not waited for: the drag's source is still waiting for the answer.
        auto* box = new QMessageBox(
            QMessageBox::Warning, QStringLiteral("Zarn's CDPlayer"),
            QStringLiteral("This file cannot be played as a CD image.\n\n%1").arg(error),
            QMessageBox::Ok, qobject_cast<QWidget*>(watched));
        box->setObjectName(QStringLiteral("ImageRefused"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
      }
      return true;
    }
    default:
      return false;
  }
}

void Accept_Image_Drops(PlayerWindows& windows) {
  new Image_Drop_Target(*windows.Main, *windows.Main);
  new Image_Drop_Target(*windows.Main, *windows.SeeThrough);
}
