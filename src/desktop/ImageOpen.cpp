#include "desktop/ImageOpen.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "app/Umain.h"
#include "desktop/ImageDrop.h"
#include "log/Log.h"
#include "settings/PlayerSettings.h"

void Open_Disc_Image(TfrmMain& main) {
  QString folder = QFile::decodeName(QByteArray::fromStdString(Image_Folder()));
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
  // The patterns match as the file system does, with case: rips made on Windows are often
  // upper case.
  const QString file = QFileDialog::getOpenFileName(
      &main, QStringLiteral("Open Disc Image"), folder,
      QStringLiteral("CD images (*.cue *.toc *.nrg *.CUE *.TOC *.NRG *.Cue *.Toc *.Nrg)"));
  if (file.isEmpty()) return;
  // The folder is where the user was, whether or not the file there can be played.
  Remember_Image_Folder(QFile::encodeName(QFileInfo(file).absolutePath()).toStdString());
  QString error;
  if (main.Insert_Image(QFile::encodeName(file).toStdString(), &error)) return;
  qCWarning(lcDesktop).noquote() << "opened file refused:" << error;
  Show_Image_Refusal(&main, error, /*wait=*/true);
}
