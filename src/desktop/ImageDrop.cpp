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
      if (!main_.Insert_Image(QFile::encodeName(file).toStdString(), &error)) {
        qCWarning(lcDesktop).noquote() << "dropped file refused:" << error;
        Show_Image_Refusal(qobject_cast<QWidget*>(watched), error);
      }
      return true;
    }
    default:
      return false;
  }
}

void Show_Image_Refusal(QWidget* parent, const QString& error, bool wait) {
  auto* box =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Zarn's CDPlayer"),
                      QStringLiteral("This file cannot be played as a CD image.\n\n%1").arg(error),
                      QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("ImageRefused"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  if (wait)
    box->exec();
  else
    box->open();  // window-modal: a drag's source is still waiting for the answer
}

void Accept_Image_Drops(PlayerWindows& windows) {
  new Image_Drop_Target(*windows.Main, *windows.Main);
  new Image_Drop_Target(*windows.Main, *windows.SeeThrough);
}
