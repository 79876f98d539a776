#include "overlay/Usthrou.h"

#include <QAction>
#include <QMenu>
#include <QPainter>

#include "app/Application.h"
#include "settings/PlayerSettings.h"
#include "settings/Winplace.h"

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

TfrmSeeThrough::~TfrmSeeThrough() {
  Application::Guarded([this] { FormDestroy(); });
}

void TfrmSeeThrough::FormCreate() {
  setFixedSize(256, 48);
  // Moved to where it stood even when it is not in use, so that it comes back there.
  Restore_Window_Placement(this, "SHWindow", PlayerSettings.SeeThrough_Use);
}

void TfrmSeeThrough::FormDestroy() {
  Save_Window_Placement(this, "SHWindow");
}

void TfrmSeeThrough::Draw_Info(const QString& displayText, const QString& timeText,
                               bool /*playing*/) {
  if (displayText == displayText_ && timeText == timeText_) return;
  displayText_ = displayText;
  timeText_ = timeText;
  update();
}

void TfrmSeeThrough::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.setFont(fontTime.font);
  p.setPen(fontTime.color);
  p.drawText(QRect(8, 4, width() - 16, 18), Qt::AlignLeft | Qt::AlignVCenter, timeText_);
  p.setFont(fontTrackTitle.font);
  p.setPen(fontTrackTitle.color);
  p.drawText(QRect(8, 24, width() - 16, 20), Qt::AlignLeft | Qt::AlignVCenter, displayText_);
}
