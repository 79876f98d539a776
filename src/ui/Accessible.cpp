#include "ui/Accessible.h"

#include <QEvent>
#include <QWidget>

namespace {

// Lives as the control's child, so it goes when the control goes.
class THintNamer : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ToolTipChange) {
      auto* control = static_cast<QWidget*>(watched);
      control->setAccessibleName(control->toolTip());
    }
    return false;
  }
};

}  // namespace

void Name_After_Hint(QWidget* control) {
  control->setAccessibleName(control->toolTip());
  control->installEventFilter(new THintNamer(control));
}
