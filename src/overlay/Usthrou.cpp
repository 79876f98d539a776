#include "overlay/Usthrou.h"

#include <QAction>
#include <QMenu>

TfrmSeeThrough::TfrmSeeThrough(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setWindowTitle(QStringLiteral("Information"));
  move(40, 15);
  PopupMenu = new QMenu(this);
  pupPlay = PopupMenu->addAction(QStringLiteral("Play"));

  fontTrackTitle.font = QFont(QStringLiteral("ＭＳ 明朝"));
  fontTrackTitle.font.setPixelSize(16);
  fontTrackTitle.font.setBold(true);
  fontTrackTitle.color = QColor(255, 255, 0);
  fontTime.font = QFont(QStringLiteral("ＭＳ ゴシック"));
  fontTime.font.setPixelSize(12);
  fontTime.font.setBold(true);
  fontTime.color = QColor(255, 255, 0);

  FormCreate();
}

TfrmSeeThrough::~TfrmSeeThrough() = default;

void TfrmSeeThrough::FormCreate() {
  setFixedSize(256, 48);
}

void TfrmSeeThrough::Draw_Info(const QString& /*displayText*/, const QString& /*timeText*/,
                               bool /*playing*/) {}
