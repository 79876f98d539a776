#include "app/Application.h"

#include <exception>

#include <QFont>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QWidget>
#include <QWindow>

#include "app/Glyphs.h"
#include "desktop/SessionEnd.h"
#include "log/Log.h"
#include "ui/Guarded.h"
#include "ui/X11.h"

namespace {

void Show_Message_Box(const QString& caption, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  box.exec();
}

// The faces the layout was drawn with are Windows fonts; point them at installed faces of the same
// kind and metrics. The Japanese names stay as they are, since settings files store them.
void Install_Font_Substitutes() {
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  const QStringList gothic = {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"),
                              QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("VL Gothic"),
                              QStringLiteral("TakaoGothic")};
  QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), gothic);
  QFont::insertSubstitutions(QStringLiteral("MS Gothic"), gothic);
  const QStringList mincho = {QStringLiteral("IPAMincho"), QStringLiteral("IPAexMincho"),
                              QStringLiteral("Noto Serif CJK JP"), QStringLiteral("TakaoMincho")};
  QFont::insertSubstitutions(QStringLiteral("ＭＳ 明朝"), mincho);
  QFont::insertSubstitutions(QStringLiteral("MS Mincho"), mincho);
}

// Qt's X11 back end fills an empty caption with the application's name (_NET_WM_NAME, which
// window managers show), whenever it sets the caption and when it creates the window. An empty
// caption is a choice of the user's, so it is written empty again after Qt, through the
// connection Qt uses, so that it arrives after Qt's own.
void Keep_Caption_Empty(QWidget* window) {
  const Qt::WindowType type = window->windowType();
  if (type == Qt::Popup || type == Qt::ToolTip || !window->windowTitle().isEmpty()) return;
  const QWindow* handle = window->windowHandle();
  if (!X11::Available() || !handle || !handle->handle()) return;
  X11::Set_Property(handle, X11::Intern("_NET_WM_NAME"), X11::Intern("UTF8_STRING"), 8, 0, nullptr);
}

}  // namespace

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv), title_(QString::fromUtf8(kInitialTitle)) {
  Install_Font_Substitutes();
  setWindowIcon(QIcon(QPixmap::fromImage(Program_Icon())));
  reporter_ = Show_Message_Box;
  Set_Guarded_Report([this](const QString& text) { Show_Error(text); });
}

Application::~Application() {
  Set_Guarded_Report({});
}

void Application::Set_Title(const QString& title) {
  title_ = title;
  for (QWidget* w : topLevelWidgets()) Apply_Title(w);
}

void Application::Apply_Title(QWidget* window) const {
  const Qt::WindowType type = window->windowType();
  if (type == Qt::Popup || type == Qt::ToolTip) return;
  if (window->windowIconText() != title_) window->setWindowIconText(title_);
}

void Application::Set_Error_Reporter(ErrorReporter reporter) {
  reporter_ = reporter ? std::move(reporter) : ErrorReporter(Show_Message_Box);
}

QString Application::Error_Text(const QString& text) {
  if (!text.isEmpty() && text.back().unicode() > u'.') return text + QLatin1Char('.');
  return text;
}

QString Application::Exception_Text(const std::exception& e) {
  return QString::fromUtf8(e.what());
}

void Application::Show_Error(const QString& text) {
  const QString report = Error_Text(text);
  qCWarning(lcApp, "%s", qUtf8Printable(report));
  if (reportsOnScreen_.contains(report) || Ended_By_Signal()) return;
  reportsOnScreen_.append(report);
  const auto closed = qScopeGuard([this, report] { reportsOnScreen_.removeOne(report); });
  reporter_(title_, QMessageBox::Critical, report);
}

void Application::Guarded(const std::function<void()>& handler) {
  Run_Guarded(handler);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  QWidget* window = nullptr;
  if (receiver->isWidgetType() && static_cast<QWidget*>(receiver)->isWindow())
    window = static_cast<QWidget*>(receiver);
  // Windows created after the title was set get it as they are shown.
  if (window && event->type() == QEvent::Show) Apply_Title(window);
  // Both come after Qt has written the caption to the native window: a change of it, and a
  // showing, which follows the native window's creation.
  if (window && (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::Show))
    Keep_Caption_Empty(window);
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Show_Error(Exception_Text(e));
  } catch (...) {
    Show_Error(QStringLiteral("Unknown error"));
  }
  return false;
}
